#pragma once
// The frame finder: every received byte goes into the ReceiveBuffer and past
// the marker search. What the window shows and what happens to a found frame
// is reached through IFrameFinderHost. (The receive path writes the bytes to
// the RawByteLog before they get here, a read chunk at a time.)

#include "telemetry/BeaconFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrel {

class IFrameFinderHost {
public:
    virtual ~IFrameFinderHost() = default;
    // Status panel text after each byte, "N=<length>". The view is valid only
    // during the call.
    virtual void setReceiveStatus(std::string_view text) = 0;
    // A frame was found: CurrentRecord() and RawFrameCopy() hold it. Runs the
    // decoder; may throw.
    virtual void decodeFrame() = 0;
};

class FrameFinder {
public:
    static constexpr std::size_t kSearchThreshold = 131;
    static constexpr std::size_t kLowestMarkerPosition = 111;  // counted from 1
    static constexpr std::size_t kTrimLimit = 150;

    explicit FrameFinder(IFrameFinderHost& host) : host_(host) {}

    // Empties the ReceiveBuffer; the copies of the latest frame stay.
    void aRXBufferInitExecute() { length_ = 0; }

    // Handles one received byte (the LastRxByte). A failure of the decoder or
    // the archive goes on to the caller; a found frame has left the buffer by
    // then.
    void aRXBufferAnalyse2Execute(std::uint8_t lastRxByte);
    // The byte aRXBufferAnalyse2Execute handled last, none before the first.
    std::optional<std::uint8_t> LastRxByte() const { return lastRxByte_; }

    // Recorded bytes (a RawByteLog being decoded again), as if each went through
    // aRXBufferAnalyse2Execute in turn: the same frames are decoded and the
    // buffer ends the same, but the host's setReceiveStatus is not called. Returns how many trailer markers these bytes completed in the
    // buffer. When decodeFrame throws, that byte is finished as the per-byte
    // path would, the bytes after it are left unhandled, and the error goes on.
    std::size_t analyseRecordedBytes(const std::uint8_t* data, std::size_t size);

    const BeaconRecord& CurrentRecord() const { return currentRecord_; }
    const RawFrame& RawFrameCopy() const { return rawFrameCopy_; }
    std::uint16_t ReceiveBufferLength() const { return static_cast<std::uint16_t>(length_); }
    std::string_view ReceiveBuffer() const { return {reinterpret_cast<const char*>(buffer_.data()), length_}; }

private:
    void cutFront(std::size_t count);

    IFrameFinderHost& host_;
    std::array<std::uint8_t, kTrimLimit> buffer_{};
    std::size_t length_ = 0;
    BeaconRecord currentRecord_;
    RawFrame rawFrameCopy_{};
    std::optional<std::uint8_t> lastRxByte_;
    // analyseRecordedBytes' scratch: the buffer followed by the new bytes, and
    // where the marker starts in them.
    std::vector<std::uint8_t> work_;
    std::vector<std::size_t> markers_;
};

}  // namespace kestrel
