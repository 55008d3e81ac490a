#pragma once
// A receive pane: a plain-text pane that takes received text in batches and
// keeps only a bounded tail laid out.
//
// Appending byte by byte to a growing paragraph makes the toolkit lay the whole
// paragraph out again for every byte. Here the text of many bytes is inserted
// at once, and after each insertion the oldest displayed lines beyond a margin
// are cut. Cutting at a displayed line start does not move any later wrap
// (lines are filled greedily from their start), so at every trim the pane
// shows exactly the newest lines the byte-by-byte appends would show.

#include <QPlainTextEdit>

#include <string_view>

namespace kestrel {

class TRxPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TRxPane(QWidget* parent = nullptr);

    // Inserts text (Latin-1, '\n' line breaks) at the end and cuts old lines
    // beyond the margin.
    void appendText(std::string_view text);

    // Displayed (wrapped) lines; an empty last line does not count.
    int displayedLineCount();
    // Deletes first displayed lines until at most maxLines remain.
    void trimToLines(int maxLines);

    // Lines kept after an insertion: enough above the newest trimmed lines that
    // the cut never falls on a line whose wrap can still change.
    static constexpr int kTrimLines = 20;
    static constexpr int kKeepLines = 2 * kTrimLines;

private:
    int lineStartPosition(int lineIndex);
};

}  // namespace kestrel
