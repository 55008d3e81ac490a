// The frame finder: each received byte into the ReceiveBuffer, the search for
// the trailer marker, and the cut after a found beacon.

#include "telemetry/FrameFinder.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

void FrameFinder::cutFront(std::size_t count) {
    count = std::min(count, length_);
    std::memmove(buffer_.data(), buffer_.data() + count, length_ - count);
    length_ -= count;
}

void FrameFinder::keep(const std::uint8_t* bytes, std::uint8_t after) {
    latest_.record = BeaconRecord::fromBytes(bytes + kFrameRecordOffset);
    std::memcpy(latest_.raw.data(), bytes, kBeaconFrameSize);
    latest_.raw[kBeaconFrameSize] = after;
}

const FoundFrame* FrameFinder::aRXBufferAnalyse2Execute(std::uint8_t lastRxByte) {
    lastRxByte_ = lastRxByte;
    // Between bytes the buffer holds at most kTrimLimit - 1 bytes, so there is room.
    buffer_[length_++] = lastRxByte;
    lengthAfterLastByte_ = static_cast<std::uint16_t>(length_);

    const FoundFrame* found = nullptr;
    if (length_ >= kSearchThreshold) {
        const std::string_view contents = ReceiveBuffer();
        const std::size_t at = contents.find(TrailerMarker);
        if (at != std::string_view::npos && at + 1 >= kLowestMarkerPosition) {
            const std::size_t frameStart = at - kFrameMarkerOffset;  // 0-based
            if (buffer_[frameStart] == 'B' && buffer_[frameStart + 1] == 'b') {
                const std::size_t after = frameStart + kBeaconFrameSize;
                keep(buffer_.data() + frameStart, after < length_ ? buffer_[after] : 0);
                found = &latest_;
            }
            // Through the marker and the byte after it.
            cutFront(at + kTrailerMarkerSize + 1);
        }
    }

    if (length_ >= kTrimLimit)
        cutFront(length_ - (kTrimLimit - 1));
    return found;
}

const FrameFinder::RecordedFrames& FrameFinder::analyseRecordedBytes(const std::uint8_t* data, std::size_t size) {
    // The buffer is always the latest bytes of the stream, so the per-byte steps
    // can be replayed on one array holding the buffer and the new bytes: `start`
    // is where the buffer begins in it, `pos` how many of its bytes have arrived.
    // The first marker in the buffer is the first one starting at or after
    // `start`; it counts once its last byte has arrived. With every marker found
    // in one pass, each byte then costs a few comparisons instead of a search.
    const std::size_t held = length_;
    work_.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(held));
    work_.insert(work_.end(), data, data + size);
    const std::string_view all(reinterpret_cast<const char*>(work_.data()), work_.size());

    markers_.clear();
    recorded_.frames.clear();
    recorded_.markers = 0;
    // Step by one, not by the marker's length: its end blank may begin the next.
    for (std::size_t at = all.find(TrailerMarker); at != std::string_view::npos; at = all.find(TrailerMarker, at + 1)) {
        markers_.push_back(at);
        if (at + kTrailerMarkerSize > held)
            ++recorded_.markers;
    }

    std::size_t start = 0;
    std::size_t next = 0;  // index in markers_ of the first marker at or after start
    std::size_t pos = held;
    while (pos < work_.size()) {
        ++pos;
        if (pos - start >= kSearchThreshold) {
            while (next < markers_.size() && markers_[next] < start)
                ++next;
            if (next < markers_.size()) {
                const std::size_t at = markers_[next];
                if (at + kTrailerMarkerSize <= pos && at - start + 1 >= kLowestMarkerPosition) {
                    const std::size_t frameStart = at - kFrameMarkerOffset;
                    if (work_[frameStart] == 'B' && work_[frameStart + 1] == 'b') {
                        const std::size_t after = frameStart + kBeaconFrameSize;
                        keep(work_.data() + frameStart, after < pos ? work_[after] : 0);
                        recorded_.frames.push_back({pos - held, latest_});
                    }
                    start = std::min(at + kTrailerMarkerSize + 1, pos);
                }
            }
        }
        if (pos - start >= kTrimLimit)
            start = pos - (kTrimLimit - 1);
    }

    length_ = pos - start;
    if (length_ > 0)  // an empty work_ may have no storage at all
        std::memcpy(buffer_.data(), work_.data() + start, length_);
    return recorded_;
}

}  // namespace kestrel
