#pragma once
// Receive slicing: one receive event reads what waits on the line, stores
// each read chunk in the RawByteLog with its time, and hands each byte on (to
// the panes, and to the frame finder, through the KISS de-framer on a KISS
// line) until the line is empty or the slice is used up; the rest waits for a
// continuation, so a stream that never pauses does not freeze the window.
// Each frame the finder finds comes back to the caller (Slice::next), which
// decides what becomes of it before the slice goes on.

#include "kiss/KissDeframer.h"
#include "station/ArchiveGuard.h"
#include "station/Continuation.h"
#include "station/DisplayQueue.h"
#include "station/Line.h"
#include "telemetry/Clock.h"
#include "telemetry/FrameFinder.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

namespace kestrel {

// A beacon frame as received: the frame, the receive time of the chunk that
// brought its last byte (ms since 1970, UTC, as the time index has it), and on
// a KISS line the whole data frame that brought it, the first time only (a
// data frame that held two beacons goes on once); else null.
struct ReceivedFrame {
    const FoundFrame* frame = nullptr;
    std::int64_t readMs = 0;
    const std::string* kissFrame = nullptr;
};

class Receiver {
public:
    // One receive slice keeps the event loop at most this long (ms).
    static constexpr std::uint32_t kReceiveSliceMs = 50;
    // Bytes handled between two looks at the clock: a look costs more than
    // handling a byte.
    static constexpr std::size_t kBytesPerClockLook = 256;
    // Bytes taken from the line in one read.
    static constexpr std::int32_t kReadChunk = 4096;

    Receiver(DisplayQueue& display, ArchiveGuard& archive, Continuation& continuation, IClock& clock,
             FrameFinder& finder)
        : display_(display), archive_(archive), continuation_(continuation), clock_(clock), finder_(finder) {}

    // One slice of what waits on the line. A byte whose handling fails is
    // gone; the bytes after it wait for the continuation. Whatever ends the
    // slice (its end, or an error from the line or from what the caller does
    // with a frame), what was received is painted soon, and bytes left behind
    // by a failure are picked up again without waiting for the line to report
    // more.
    class Slice {
    public:
        Slice(Receiver& receiver, StationLine& line);
        ~Slice();
        Slice(const Slice&) = delete;
        Slice& operator=(const Slice&) = delete;
        // The next frame found, valid until the next call; null once the
        // slice is over (the line empty, or the time used up and the
        // continuation asked for).
        const ReceivedFrame* next();

    private:
        Receiver& r_;
        StationLine& line_;
        std::uint32_t start_;
        std::size_t handled_ = 0;
        bool over_ = false;
        int uncaught_;
    };
    Slice slice(StationLine& line) { return Slice(*this, line); }

    // Bytes read and not yet handled, or waiting on the line.
    bool waiting(StationLine& line);
    // Forgets bytes read and not yet handled (Clear, Settings).
    void drop();
    // The receive time (ms since 1970, UTC) of the chunk handled last.
    std::int64_t readTimeMs() const { return readMs_; }

private:
    // The next byte from the line, read (and archived) a chunk at a time;
    // false when none waits.
    bool take(StationLine& line, std::uint8_t& b);
    const FoundFrame* analyse(std::uint8_t b);
    const ReceivedFrame* found(const FoundFrame* frame, bool kiss);
    void showKissState();

    DisplayQueue& display_;
    ArchiveGuard& archive_;
    Continuation& continuation_;
    IClock& clock_;
    FrameFinder& finder_;
    // The latest read from the line and the next of its bytes to handle.
    std::string chunk_;
    std::size_t next_ = 0;
    std::int64_t readMs_ = 0;
    // On a KISS line: the data frame being analysed and its next byte.
    KissDeframer deframer_;
    std::string frame_;
    std::size_t frameNext_ = 0;
    bool frameTaken_ = true;
    std::uint64_t kissShownFrames_ = 0, kissShownDropped_ = 0;
    bool analysed_ = false;  // a byte reached the frame finder in this slice
    ReceivedFrame found_;
};

}  // namespace kestrel
