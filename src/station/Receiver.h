#pragma once
// Receive slicing: one receive event reads what waits on the line, stores
// each read chunk in the RawByteLog with its time, and hands each byte on (to
// the panes, and to the frame finder, through the KISS de-framer on a KISS
// line) until the line is empty or the slice is used up; the rest waits for a
// continuation, so a stream that never pauses does not freeze the window.

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

    // A byte whose handling fails is gone; the bytes after it wait for the
    // continuation, which is asked for.
    void slice(StationLine& line);
    // Bytes read and not yet handled, or waiting on the line.
    bool waiting(StationLine& line);
    // Shut-down: what the line still holds, within a bound for a line that
    // never falls silent.
    void drain(StationLine& line);
    // Forgets bytes read and not yet handled (Clear, Settings).
    void drop();
    // On a KISS line, the data frame being analysed, the first time it is
    // asked for (a frame that held two beacons goes on once); else null.
    const std::string* takeKissFrame() { return std::exchange(frameTaken_, true) ? nullptr : &frame_; }
    // The receive time (ms since 1970, UTC) of the chunk being handled, as the
    // time index gives it: a beacon's is its last byte's.
    std::int64_t readTimeMs() const { return readMs_; }

private:
    void handle(std::uint8_t b, bool kiss);
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
    KissDeframer deframer_;
    std::string frame_;
    bool frameTaken_ = true;
    std::uint64_t kissShownFrames_ = 0, kissShownDropped_ = 0;
};

}  // namespace kestrel
