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

#include "station/WindowDesign.h"

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
    // The text comes in cells of this many characters and the font has a fixed
    // pitch (the hex pane: "XX "), so every full line of a paragraph holds the
    // same number of cells; 0: any text.
    void setCellChars(int chars) { cellChars_ = chars; }

    // Displayed (wrapped) lines; an empty last line does not count.
    int displayedLineCount();
    // Deletes first displayed lines until at most maxLines remain.
    void trimToLines(int maxLines);

    // Lines kept after an insertion: more than the trim keeps, so the cut never
    // falls on the last line, the only one whose wrap can still change, and
    // more than the pane shows, so between trims it looks as if nothing were
    // cut. Few enough that laying out the hex pane's one paragraph again, which
    // the toolkit does whole at every insertion, stays cheap.
    static constexpr int kTrimLines = design::kTrimLines;
    static constexpr int kMinKeepLines = kTrimLines + 4;
    int keepLines() const;
    // Lines allowed above keepLines() before an insertion cuts.
    static constexpr int kCutSlack = 8;

private:
    int lineStartPosition(int lineIndex);
    std::string_view dropTextBeyondTheMargin(std::string_view text);

    int cellChars_ = 0;
};

}  // namespace kestrel
