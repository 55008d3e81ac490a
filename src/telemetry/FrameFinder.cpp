// The frame finder: each received byte into the ReceiveBuffer, the search for
// the trailer marker, and the cut after a found beacon.

#include "telemetry/FrameFinder.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>

namespace kestrel {

void FrameFinder::cutFront(std::size_t count) {
    count = std::min(count, length_);
    std::memmove(buffer_.data(), buffer_.data() + count, length_ - count);
    length_ -= count;
}

void FrameFinder::aRXBufferAnalyse2Execute(std::uint8_t lastRxByte) {
    lastRxByte_ = lastRxByte;
    // Between bytes the buffer holds at most kTrimLimit - 1 bytes, so there is room.
    buffer_[length_++] = lastRxByte;

    char status[16] = "N=";
    const auto res = std::to_chars(status + 2, status + sizeof status, ReceiveBufferLength());
    host_.setReceiveStatus(std::string_view(status, static_cast<std::size_t>(res.ptr - status)));

    std::exception_ptr failure;
    if (length_ >= kSearchThreshold) {
        const std::string_view contents = ReceiveBuffer();
        const std::size_t found = contents.find(TrailerMarker);
        if (found != std::string_view::npos && found + 1 >= kLowestMarkerPosition) {
            const std::size_t frameStart = found - kFrameMarkerOffset;  // 0-based
            if (buffer_[frameStart] == 'B' && buffer_[frameStart + 1] == 'b') {
                currentRecord_ = BeaconRecord::fromBytes(buffer_.data() + frameStart + kFrameRecordOffset);
                std::memcpy(rawFrameCopy_.data(), buffer_.data() + frameStart, kBeaconFrameSize);
                const std::size_t after = frameStart + kBeaconFrameSize;
                rawFrameCopy_[kBeaconFrameSize] = after < length_ ? buffer_[after] : 0;
                // A failing decoder or archive must not leave the frame behind to
                // be decoded again with the next byte.
                try {
                    host_.decodeFrame();
                } catch (...) {
                    failure = std::current_exception();
                }
            }
            // Through the marker and the byte after it.
            cutFront(found + kTrailerMarkerSize + 1);
        }
    }

    if (length_ >= kTrimLimit)
        cutFront(length_ - (kTrimLimit - 1));

    if (failure)
        std::rethrow_exception(failure);
}

std::size_t FrameFinder::analyseRecordedBytes(const std::uint8_t* data, std::size_t size) {
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
    std::size_t newMarkers = 0;
    // Step by one, not by the marker's length: its end blank may begin the next.
    for (std::size_t at = all.find(TrailerMarker); at != std::string_view::npos; at = all.find(TrailerMarker, at + 1)) {
        markers_.push_back(at);
        if (at + kTrailerMarkerSize > held)
            ++newMarkers;
    }

    std::size_t start = 0;
    std::size_t next = 0;  // index in markers_ of the first marker at or after start
    std::size_t pos = held;
    std::exception_ptr failure;
    while (pos < work_.size() && !failure) {
        ++pos;
        if (pos - start >= kSearchThreshold) {
            while (next < markers_.size() && markers_[next] < start)
                ++next;
            if (next < markers_.size()) {
                const std::size_t found = markers_[next];
                if (found + kTrailerMarkerSize <= pos && found - start + 1 >= kLowestMarkerPosition) {
                    const std::size_t frameStart = found - kFrameMarkerOffset;
                    if (work_[frameStart] == 'B' && work_[frameStart + 1] == 'b') {
                        currentRecord_ = BeaconRecord::fromBytes(work_.data() + frameStart + kFrameRecordOffset);
                        std::memcpy(rawFrameCopy_.data(), work_.data() + frameStart, kBeaconFrameSize);
                        const std::size_t after = frameStart + kBeaconFrameSize;
                        rawFrameCopy_[kBeaconFrameSize] = after < pos ? work_[after] : 0;
                        try {
                            host_.decodeFrame();
                        } catch (...) {
                            failure = std::current_exception();
                        }
                    }
                    start = std::min(found + kTrailerMarkerSize + 1, pos);
                }
            }
        }
        if (pos - start >= kTrimLimit)
            start = pos - (kTrimLimit - 1);
    }

    length_ = pos - start;
    if (length_ > 0)  // an empty work_ may have no storage at all
        std::memcpy(buffer_.data(), work_.data() + start, length_);
    if (failure)
        std::rethrow_exception(failure);
    return newMarkers;
}

}  // namespace kestrel
