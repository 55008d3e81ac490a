#pragma once
// The frame finder: every received byte goes into the ReceiveBuffer and past
// the marker search. It hands back what it found (a completed frame, already
// cut from the buffer) and keeps the buffer's length; what happens to a frame,
// and what the status panel says, is its caller's. (The receive path writes
// the bytes to the RawByteLog before they get here, a read chunk at a time.)

#include "telemetry/BeaconFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrel {

// A beacon frame as found: its record (the CurrentRecord) and its bytes with
// the one after them (the RawFrameCopy).
struct FoundFrame {
    BeaconRecord record;
    RawFrame raw{};
};

class FrameFinder {
public:
    static constexpr std::size_t kSearchThreshold = 131;
    static constexpr std::size_t kLowestMarkerPosition = 111;  // counted from 1
    static constexpr std::size_t kTrimLimit = 150;

    // Empties the ReceiveBuffer; the copies of the latest frame stay.
    void aRXBufferInitExecute() { length_ = 0; }

    // Handles one received byte (the LastRxByte). Returns the frame the byte
    // completed, if it did: cut from the buffer by then, and held until the
    // next frame is found (CurrentRecord(), RawFrameCopy()).
    const FoundFrame* aRXBufferAnalyse2Execute(std::uint8_t lastRxByte);
    // The byte aRXBufferAnalyse2Execute handled last, none before the first.
    std::optional<std::uint8_t> LastRxByte() const { return lastRxByte_; }
    // The buffer's length right after the last byte joined it, before a
    // frame or the trim left it: what the status panel shows ("N=131" on the
    // byte that completed a frame).
    std::uint16_t lengthAfterLastByte() const { return lengthAfterLastByte_; }

    // Recorded bytes (a RawByteLog being decoded again), as if each went
    // through aRXBufferAnalyse2Execute in turn: the same frames are found and
    // the buffer ends the same (LastRxByte and lengthAfterLastByte, which only
    // the live path shows, stay).
    struct LocatedFrame {
        std::size_t end;  // in the bytes given, just past the byte that completed the frame
        FoundFrame frame;
    };
    struct RecordedFrames {
        std::vector<LocatedFrame> frames;  // in the order found
        std::size_t markers = 0;           // trailer markers these bytes completed, frames or not
    };
    // Valid until the next call.
    const RecordedFrames& analyseRecordedBytes(const std::uint8_t* data, std::size_t size);

    const BeaconRecord& CurrentRecord() const { return latest_.record; }
    const RawFrame& RawFrameCopy() const { return latest_.raw; }
    std::uint16_t ReceiveBufferLength() const { return static_cast<std::uint16_t>(length_); }
    std::string_view ReceiveBuffer() const { return {reinterpret_cast<const char*>(buffer_.data()), length_}; }

private:
    void cutFront(std::size_t count);
    // Copies the frame whose first byte is bytes[0] into latest_; `after` is
    // the byte after it, 0 when none has arrived.
    void keep(const std::uint8_t* bytes, std::uint8_t after);

    std::array<std::uint8_t, kTrimLimit> buffer_{};
    std::size_t length_ = 0;
    std::uint16_t lengthAfterLastByte_ = 0;
    FoundFrame latest_;
    std::optional<std::uint8_t> lastRxByte_;
    // analyseRecordedBytes' scratch: the buffer followed by the new bytes, and
    // where the marker starts in them; and what it found.
    std::vector<std::uint8_t> work_;
    std::vector<std::size_t> markers_;
    RecordedFrames recorded_;
};

}  // namespace kestrel
