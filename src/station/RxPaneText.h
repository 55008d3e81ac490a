#pragma once
// How a received byte shows in the receive panes: as text in MemoRX (a line
// break for CR, LF and CR LF, zero bytes left out) and as two hex digits and a
// blank in MEMORXHEX. The text waits here until the window is painted, so a
// burst of bytes costs one insertion instead of one per byte.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

class RxPaneText {
public:
    enum class Mode { Text, Hex };
    explicit RxPaneText(Mode mode) : mode_(mode) {}

    void appendByte(std::uint8_t b) {
        if (mode_ == Mode::Hex) {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            pending_ += kDigits[b >> 4];
            pending_ += kDigits[b & 15];
            pending_ += ' ';
            return;
        }
        if (b == 0) {  // the pane holds no zero characters
            lastWasCR_ = false;
            return;
        }
        if (b == '\n' && lastWasCR_) {  // CR LF makes one line break
            lastWasCR_ = false;
            return;
        }
        lastWasCR_ = (b == '\r');
        pending_ += (b == '\r' || b == '\n') ? '\n' : static_cast<char>(b);
    }

    // Latin-1 text with '\n' line breaks, not yet shown.
    const std::string& pending() const { return pending_; }
    bool empty() const { return pending_.empty(); }
    // Big enough to be worth showing now: keeps memory bounded while a long
    // burst is drained between two paints.
    bool flushDue() const { return pending_.size() >= kFlushChars; }
    std::string take() {
        std::string text;
        text.swap(pending_);
        return text;
    }
    // Drops the waiting text; the next byte starts a fresh line state.
    void clear() {
        pending_.clear();
        lastWasCR_ = false;
    }

    static constexpr std::size_t kFlushChars = 16384;

private:
    Mode mode_;
    std::string pending_;
    bool lastWasCR_ = false;
};

}  // namespace kestrel
