#pragma once
// A receive pane: a plain-text pane that takes bytes in batches and keeps only a
// bounded tail laid out.
//
// Appending byte by byte to a growing paragraph makes the toolkit lay the whole
// paragraph out again for every byte. Here the bytes of one receive event are
// collected and inserted at once, and after each insertion the oldest displayed
// lines beyond a margin are cut. Cutting at a displayed line start does not move
// any later wrap (lines are filled greedily from their start), so at every trim
// the pane shows exactly the newest lines the byte-by-byte appends would show.

#include <QPlainTextEdit>
#include <QString>

namespace kestrel {

class TRxPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TRxPane(QWidget* parent = nullptr);

    // How a received byte shows: as text (line breaks for CR, LF and CR LF, zero
    // bytes invisible) or as two hex digits and a blank.
    enum class Mode { Text, Hex };
    void setMode(Mode m) { mode_ = m; }
    Mode mode() const { return mode_; }

    // Queues one received byte. Nothing reaches the widget before flush().
    void appendByte(unsigned char b) {
        if (mode_ == Mode::Hex) {
            static const char digits[] = "0123456789ABCDEF";
            pending_ += QChar(digits[b >> 4]);
            pending_ += QChar(digits[b & 15]);
            pending_ += QChar(' ');
        } else {
            appendTextByte(b);
        }
    }
    // True when the queue is big enough to be worth inserting now (keeps memory
    // bounded while a long burst is drained).
    bool flushDue() const { return pending_.size() >= kFlushChars; }
    // Inserts the queued text at the end and cuts old lines beyond the margin.
    void flush();

    // Displayed (wrapped) lines; an empty last line does not count.
    int displayedLineCount();
    // Deletes first displayed lines until at most maxLines remain.
    void trimToLines(int maxLines);

    // Empties the pane (and the queue); the next byte starts a fresh line state.
    void clearAll();

    // Lines kept after a flush: enough above the newest trimmed lines that the
    // cut never falls on a line whose wrap can still change.
    static constexpr int kTrimLines = 20;
    static constexpr int kKeepLines = 2 * kTrimLines;
    static constexpr int kFlushChars = 16384;

private:
    void appendTextByte(unsigned char b);
    int lineStartPosition(int lineIndex);

    Mode mode_ = Mode::Text;
    QString pending_;
    bool lastWasCR_ = false;
};

}  // namespace kestrel
