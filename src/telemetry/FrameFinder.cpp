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
    host_.writeRawByte(lastRxByte);

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

    if (length_ >= kTrimLimit) cutFront(length_ - (kTrimLimit - 1));

    if (failure) std::rethrow_exception(failure);
}

}  // namespace kestrel
