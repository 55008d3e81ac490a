// Receive slicing: the bytes of one receive event, bounded in time (see
// Receiver.h).

#include "station/Receiver.h"

#include <algorithm>
#include <exception>

namespace kestrel {

Receiver::Slice::Slice(Receiver& receiver, StationLine& line)
    : r_(receiver), line_(line), start_(receiver.clock_.tickCount()), uncaught_(std::uncaught_exceptions()) {
    r_.analysed_ = false;
}

Receiver::Slice::~Slice() {
    // The status panel shows the buffer as the last byte left it.
    if (r_.analysed_)
        r_.display_.setReceiveLength(r_.finder_.lengthAfterLastByte());
    r_.display_.changed();
    if (std::uncaught_exceptions() > uncaught_)
        r_.continuation_.ask();
}

const ReceivedFrame* Receiver::Slice::next() {
    for (;;) {
        // What a KISS data frame holds goes to the frame finder whole, also
        // when the slice's time is up.
        while (r_.frameNext_ < r_.frame_.size())
            if (const FoundFrame* f = r_.analyse(static_cast<std::uint8_t>(r_.frame_[r_.frameNext_++])))
                return r_.found(f, true);
        std::uint8_t b;
        if (over_ || !r_.take(line_, b))
            return nullptr;
        // The panes show the line's bytes as they came (and the RawByteLog
        // holds them so); the frame finder takes them as they came too, or on
        // a KISS line the contents of each data frame for port 0.
        r_.display_.appendByte(b);
        const FoundFrame* f = nullptr;
        if (!line_.kiss()) {
            f = r_.analyse(b);
        } else {
            if (r_.deframer_.Push(b)) {
                r_.frame_.assign(r_.deframer_.Frame());  // analysing may not outlive it
                r_.frameNext_ = 0;
                r_.frameTaken_ = false;
            }
            r_.showKissState();
        }
        if (handled_++ % kBytesPerClockLook == kBytesPerClockLook - 1 &&
            std::uint32_t(r_.clock_.tickCount() - start_) >= kReceiveSliceMs) {
            r_.continuation_.ask();
            over_ = true;
        }
        if (f)
            return r_.found(f, false);
    }
}

bool Receiver::take(StationLine& line, std::uint8_t& b) {
    if (next_ == chunk_.size()) {
        chunk_.clear();
        next_ = 0;
        if (!line.isOpen())
            return false;  // bytes read before the line went away are handled all the same
        const std::int32_t waiting = line.bytesWaiting();
        bool fresh = false;
        if (waiting <= 0 || line.read(chunk_, std::min(waiting, kReadChunk), fresh) <= 0)
            return false;
        if (fresh)
            deframer_.Reset();
        // The whole chunk goes to the RawByteLog before any of its bytes is
        // handled: one write instead of one per byte, and the file still
        // holds every byte handled so far.
        readMs_ = archive_.noteReadTime();
        archive_.logRawBytes(chunk_);
    }
    // Taken from the chunk before it is handled: a byte whose handling fails
    // is gone, the ones after it wait for the continuation.
    b = static_cast<std::uint8_t>(chunk_[next_++]);
    return true;
}

const FoundFrame* Receiver::analyse(std::uint8_t b) {
    analysed_ = true;
    return finder_.aRXBufferAnalyse2Execute(b);
}

const ReceivedFrame* Receiver::found(const FoundFrame* frame, bool kiss) {
    found_.frame = frame;
    found_.readMs = readMs_;
    found_.kissFrame = kiss && !std::exchange(frameTaken_, true) ? &frame_ : nullptr;
    return &found_;
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
    return next_ < chunk_.size() || frameNext_ < frame_.size() || (line.isOpen() && line.bytesWaiting() > 0);
}

void Receiver::drop() {
    chunk_.clear();
    next_ = 0;
    frame_.clear();
    frameNext_ = 0;
}

}  // namespace kestrel
