// KISS de-framing of a received stream byte by byte, its counters, the encoder
// for one data frame, and the look that tells a recorded KISS stream from a
// plain TNC's.

#include "kiss/KissDeframer.h"

namespace kestrel {

bool KissDeframer::Push(std::uint8_t byte) {
    if (ready_) {
        frame_.clear();
        ready_ = false;
    }
    switch (state_) {
    case State::Hunting:
        if (byte == kKissFend)
            state_ = State::InFrame;
        else
            ++counters_.skippedBytes;
        return false;
    case State::Discarding:
        if (byte == kKissFend)
            state_ = State::InFrame;
        else
            ++counters_.skippedBytes;
        return false;
    case State::Escape:
        if (byte == kKissTfend || byte == kKissTfesc) {
            state_ = State::InFrame;
            byte = byte == kKissTfend ? kKissFend : kKissFesc;
            break;  // appended below
        }
        ++counters_.badEscape;
        counters_.skippedBytes += frame_.size() + 1;
        frame_.clear();
        // A FEND after the FESC still ends the broken frame and opens the next.
        state_ = byte == kKissFend ? State::InFrame : State::Discarding;
        if (byte != kKissFend)
            ++counters_.skippedBytes;
        return false;
    case State::InFrame:
        if (byte == kKissFend) {
            endFrame();
            return ready_;
        }
        if (byte == kKissFesc) {
            state_ = State::Escape;
            return false;
        }
        break;
    }
    // One command byte in front of the contents.
    if (frame_.size() == kKissMaxFrameContents + 1) {
        ++counters_.oversized;
        counters_.skippedBytes += frame_.size() + 1;
        frame_.clear();
        state_ = State::Discarding;
        return false;
    }
    frame_.push_back(static_cast<char>(byte));
    return false;
}

void KissDeframer::endFrame() {
    // Back-to-back FENDs (an empty frame) are how TNCs pad; nothing to count.
    if (frame_.empty())
        return;
    const auto command = static_cast<std::uint8_t>(frame_[0]);
    if ((command & 0x0F) != 0) {
        ++counters_.otherCommand;
    } else if (command != kKissDataFrame) {
        ++counters_.otherPort;
    } else if (frame_.size() > 1) {
        ++counters_.frames;
        frame_.erase(0, 1);
        ready_ = true;
        return;
    }
    frame_.clear();
}

void KissDeframer::Reset() {
    if (!ready_ && (state_ == State::InFrame || state_ == State::Escape) && !frame_.empty()) {
        ++counters_.unterminated;
        counters_.skippedBytes += frame_.size() + (state_ == State::Escape);
    }
    frame_.clear();
    ready_ = false;
    state_ = State::Hunting;
}

std::string EncodeKissDataFrame(std::string_view contents) {
    std::string out;
    out.reserve(contents.size() + contents.size() / 8 + 4);
    out.push_back(static_cast<char>(kKissFend));
    out.push_back(static_cast<char>(kKissDataFrame));
    for (char c : contents) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b == kKissFend || b == kKissFesc) {
            out.push_back(static_cast<char>(kKissFesc));
            out.push_back(static_cast<char>(b == kKissFend ? kKissTfend : kKissTfesc));
        } else {
            out.push_back(c);
        }
    }
    out.push_back(static_cast<char>(kKissFend));
    return out;
}

bool LooksLikeKissStream(std::string_view start) {
    // A software TNC hands out whole frames, so its stream, and a log of it,
    // begins with a FEND. A plain beacon stream has 0xC0 bytes too (a negative
    // float's top byte), and a beacon on either side of one would pass for a frame.
    if (start.empty() || static_cast<std::uint8_t>(start[0]) != kKissFend)
        return false;
    // Bytes standing in well-formed frames (FENDs included) against all bytes
    // up to the last FEND; what follows it may be a frame cut off by the end
    // of `start`.
    std::size_t inFrames = 0, frames = 0, considered = 0;
    std::size_t frameStart = std::string_view::npos;
    bool broken = false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(start[i]);
        if (b == kKissFend) {
            considered = i + 1;
            if (frameStart != std::string_view::npos) {
                const std::size_t size = i - frameStart - 1;  // command byte and contents, escaped
                // Each frame with its closing FEND; padding FENDs count too.
                if (size >= 2 && size <= 2 * kKissMaxFrameContents + 1 && !broken) {
                    ++frames;
                    inFrames += size + 1;
                } else if (size == 0) {
                    ++inFrames;
                }
            } else {
                ++inFrames;  // the first FEND
            }
            frameStart = i;
            broken = false;
        } else if (b == kKissFesc) {
            const bool valid = i + 1 < start.size() && (static_cast<std::uint8_t>(start[i + 1]) == kKissTfend ||
                                                        static_cast<std::uint8_t>(start[i + 1]) == kKissTfesc);
            if (!valid)
                broken = true;
        }
    }
    return frames >= 2 && inFrames * 10 >= considered * 8;
}

}  // namespace kestrel
