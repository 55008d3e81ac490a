// Receive slicing: the bytes of one receive event, bounded in time (see
// Receiver.h).

#include "station/Receiver.h"

#include <algorithm>
#include <exception>

namespace kestrel {

void Receiver::slice(StationLine& line) {
    // Whatever happens below, what was received is painted soon, and bytes
    // left behind by a failure are picked up again without waiting for the
    // line to report more.
    struct AtExit {
        Receiver* receiver;
        int uncaught = std::uncaught_exceptions();
        ~AtExit() {
            receiver->display_.changed();
            if (std::uncaught_exceptions() > uncaught)
                receiver->continuation_.ask();
        }
    } atExit{this};

    const std::uint32_t sliceStart = clock_.tickCount();
    for (std::size_t handled = 0;; ++handled) {
        if (next_ == chunk_.size()) {
            chunk_.clear();
            next_ = 0;
            if (!line.isOpen())
                break;  // bytes read before the line went away are handled all the same
            const std::int32_t waiting = line.bytesWaiting();
            bool fresh = false;
            if (waiting <= 0 || line.read(chunk_, std::min(waiting, kReadChunk), fresh) <= 0)
                break;
            if (fresh)
                deframer_.Reset();
            // The whole chunk goes to the RawByteLog before any of its bytes
            // is handled: one write instead of one per byte, and the file
            // still holds every byte handled so far.
            readMs_ = archive_.noteReadTime();
            archive_.logRawBytes(chunk_);
        }
        // Taken from the chunk before it is handled: a byte whose handling
        // fails is gone, the ones after it wait for the continuation.
        handle(static_cast<std::uint8_t>(chunk_[next_++]), line.kiss());
        if (handled % kBytesPerClockLook == kBytesPerClockLook - 1 &&
            std::uint32_t(clock_.tickCount() - sliceStart) >= kReceiveSliceMs) {
            continuation_.ask();
            break;
        }
    }
}

// The panes show the line's bytes as they came (and the RawByteLog holds
// them so); the frame finder takes them as they came too, or on a KISS line
// the contents of each data frame for port 0.
void Receiver::handle(std::uint8_t b, bool kiss) {
    display_.appendByte(b);
    if (!kiss) {
        finder_.aRXBufferAnalyse2Execute(b);
        return;
    }
    if (deframer_.Push(b)) {
        frame_.assign(deframer_.Frame());  // analysing may not outlive it
        frameTaken_ = false;
        for (char c : frame_)
            finder_.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(c));
    }
    showKissState();
}

void Receiver::showKissState() {
    const KissCounters& k = deframer_.Counters();
    if (k.frames == kissShownFrames_ && k.damaged() == kissShownDropped_)
        return;
    kissShownFrames_ = k.frames;
    kissShownDropped_ = k.damaged();
    display_.post(StatusSource::Kiss, "KISS " + std::to_string(k.frames) + "/" + std::to_string(k.damaged()));
}

bool Receiver::waiting(StationLine& line) {
    return next_ < chunk_.size() || (line.isOpen() && line.bytesWaiting() > 0);
}

void Receiver::drain(StationLine& line) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < until && waiting(line))
        slice(line);
}

void Receiver::drop() {
    chunk_.clear();
    next_ = 0;
}

}  // namespace kestrel
