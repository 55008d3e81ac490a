#pragma once
// KISS framing, as software TNCs hand out what they receive: FEND delimits a
// frame, FESC TFEND and FESC TFESC stand for FEND and FESC inside it, and its
// first byte is the command byte (high nibble: TNC port, low nibble: command,
// 0 = data frame).
//
// On a KISS source the receive path is: every byte as received to the
// RawByteLog (the log keeps the KISS stream, escapes and all), then into the
// deframer; the contents of each data frame of port 0 go on to the frame
// finder byte by byte. The AX.25 addresses in front of the beacon are noise to
// the frame finder, which finds the beacon on its last byte as on a plain line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::uint8_t kKissFend = 0xC0;
inline constexpr std::uint8_t kKissFesc = 0xDB;
inline constexpr std::uint8_t kKissTfend = 0xDC;
inline constexpr std::uint8_t kKissTfesc = 0xDD;
inline constexpr std::uint8_t kKissDataFrame = 0x00;  // command 0 on port 0

// Longest frame contents (after the command byte) taken; an AX.25 frame of a
// software TNC is at most about 330 bytes, a beacon with its header 147.
inline constexpr std::size_t kKissMaxFrameContents = 1024;

// What the deframer saw, since construction or ResetCounters().
struct KissCounters {
    std::uint64_t frames = 0;        // data frames of port 0 handed on
    std::uint64_t otherPort = 0;     // data frames for another port, dropped
    std::uint64_t otherCommand = 0;  // frames with a command other than data, dropped
    std::uint64_t oversized = 0;     // longer than kKissMaxFrameContents, dropped
    std::uint64_t badEscape = 0;     // FESC followed by anything but TFEND/TFESC, dropped
    std::uint64_t unterminated = 0;  // cut off by Reset() or Finish(), dropped
    std::uint64_t skippedBytes = 0;  // before the first FEND, or of dropped frames

    // Frames lost to faults (not the other ports' and commands' frames, which
    // are simply not ours).
    std::uint64_t damaged() const { return oversized + badEscape + unterminated; }
};

class KissDeframer {
public:
    // Takes one received byte. True when it completed a data frame of port 0;
    // Frame() then holds that frame's de-escaped contents until the next call.
    bool Push(std::uint8_t byte);
    std::string_view Frame() const { return frame_; }

    // All of `bytes`, calling sink(std::string_view contents) for each data
    // frame of port 0. A sink that throws leaves the rest of `bytes` unread.
    template <typename Sink>
    void Feed(std::string_view bytes, Sink&& sink) {
        for (char c : bytes)
            if (Push(static_cast<std::uint8_t>(c)))
                sink(Frame());
    }

    // The stream starts afresh (a new connection): a frame in progress is
    // dropped as unterminated and the next bytes are skipped up to a FEND.
    void Reset();
    // End of a recorded stream: a frame in progress is dropped as unterminated.
    void Finish() { Reset(); }

    const KissCounters& Counters() const { return counters_; }
    void ResetCounters() { counters_ = {}; }

private:
    enum class State { Hunting, InFrame, Escape, Discarding };
    void endFrame();

    State state_ = State::Hunting;
    std::string frame_;   // command byte, then contents
    bool ready_ = false;  // frame_ holds a finished frame, its command byte removed
    KissCounters counters_;
};

// One data frame for port 0: FEND, 0x00, the escaped contents, FEND.
std::string EncodeKissDataFrame(std::string_view contents);

// A rough look at the start of a recorded stream: true when it begins with a
// FEND and most of its bytes stand in well-formed FEND-delimited frames (at
// least two of them). A plain TNC's stream, where 0xC0 is just a byte that
// turns up now and then, is not; nor is a KISS stream joined in the middle of
// a frame (kestrel-redecode --kiss then).
bool LooksLikeKissStream(std::string_view start);

}  // namespace kestrel
