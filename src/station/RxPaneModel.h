#pragma once
// A receive pane's text as the operator sees it, without a toolkit: the
// received paragraphs wrapped into displayed lines of a fixed number of
// columns (the panes use a fixed-pitch font, so wrapping is counting), the
// one-second trim, the bounded tail kept between trims, the scroll position
// and the selection. Each window draws the lines in view from here and passes
// on its mouse and keys; nothing is ever laid out that a cut removes again.
//
// Lines wrap as the toolkit's text panes wrap them: after the last blank that
// still lets the line fit, and anywhere when a word alone is longer than a
// line (see WrapRule for where the toolkits differ). A line starts only where
// the line before it ended, so cutting whole first lines never moves a later
// wrap: the pane shows exactly what appending byte by byte would show.

#include "station/WindowDesign.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Qt's text pane lets blanks at a line's end run past its edge; the Win32
// edit control counts them into the line and breaks an overlong word one
// column before the edge.
enum class WrapRule { BlanksHang, BlanksCount };

class RxPaneModel {
public:
    // A place in the text: counts every character ever added (line breaks
    // included), so it keeps meaning the same character across cuts.
    using Pos = std::uint64_t;

    static constexpr int kTrimLines = design::kTrimLines;
    // Lines allowed above keepLines() before an insertion cuts.
    static constexpr int kCutSlack = 8;

    explicit RxPaneModel(WrapRule rule = WrapRule::BlanksHang);

    // The wrap width in characters and the lines the window shows; both at
    // least 1. A new width wraps everything again.
    void setColumns(int columns);
    void setRows(int rows);
    int columns() const { return columns_; }
    int rows() const { return rows_; }

    // Latin-1 text with '\n' line breaks, added at the end.
    void append(std::string_view text);
    // Deletes first displayed lines until at most maxLines remain (an empty
    // last line does not count).
    void trim(int maxLines);
    void clear();

    // Lines kept after an insertion: more than the trim keeps, so a cut never
    // falls on the last line, the only one whose wrap can still change, and
    // more than the window shows, so between trims nothing seems cut.
    int keepLines() const;

    // Displayed lines, an empty last one included (the one new text goes to).
    int lineCount() const { return lines_; }
    // Displayed lines as the trim counts them.
    int countedLines() const;
    // A displayed line's characters, blanks at its end included.
    std::string_view line(int index) const;
    std::string text() const;

    // ---- Scrolling: the first line in view ----
    int top() const { return following_ ? maxTop() : top_; }
    int maxTop() const { return lines_ > rows_ ? lines_ - rows_ : 0; }
    // Clamped; scrolled to the end, the pane follows new text again.
    void scrollTo(int top);
    void scrollBy(int lines) { scrollTo(top() + lines); }
    // The keys and scroll-bar arrows of both windows; a page keeps one line
    // of the last in view.
    enum class Step { LineUp, LineDown, PageUp, PageDown, Top, End };
    void scroll(Step step);
    // Scrolled to the end: new text scrolls into view. A window's scroll bar
    // then only moves to the end and grows a little between trims, so it is
    // brought up to date at the trim rather than at every burst (redrawing
    // it cost as much as the text).
    bool following() const { return following_; }

    // ---- Painting ----
    // What the window does to show the changes since the last call: move
    // what it shows up by scrollLines lines, then paint the rows from
    // firstRow to its bottom; or, with `all`, paint everything. A burst that
    // only adds lines at the end so costs the new lines alone.
    struct Repaint {
        bool all = true;
        int scrollLines = 0;
        int firstRow = 0;
    };
    Repaint takeRepaint();

    // ---- Selection ----
    // The place before column `column` of displayed line `line`, both clamped.
    Pos positionAt(int line, int column) const;
    // The place nearest a point in the window, for cells cellWidth wide and
    // lines lineHeight high, with the text starting at (0, 0).
    Pos positionAtPoint(double x, double y, double cellWidth, double lineHeight) const;
    void select(Pos anchor, Pos caret);
    void extendTo(Pos caret) { select(anchor_, caret); }
    // A press of the mouse button starts a selection there; with Shift held
    // it extends the one there is.
    void press(Pos at, bool extend) { extend ? extendTo(at) : select(at, at); }
    // The mouse dragged to (x, y) of a window viewHeight high: dragging past
    // its top or bottom edge scrolls a line.
    void drag(double x, double y, double cellWidth, double lineHeight, double viewHeight);
    void selectAll();
    bool hasSelection() const;
    // Line breaks as '\n'; a wrap is no break.
    std::string selectedText() const;
    // The selected columns [first, last) of a displayed line; first == last
    // when none is selected.
    struct Columns {
        int first = 0, last = 0;
    };
    Columns selectedColumns(int line) const;

private:
    struct Paragraph {
        std::string text;
        std::vector<std::uint32_t> starts{0};  // where each displayed line begins
    };
    struct LineRef {
        std::size_t paragraph;
        std::size_t line;
    };

    LineRef locate(int line) const;
    Pos paragraphStart(std::size_t paragraph) const;
    Pos endPosition() const;
    void wrapFrom(Paragraph& p, std::size_t line);
    void cutLines(int count);
    void resetTo(Pos base);

    std::deque<Paragraph> paragraphs_;
    Pos base_ = 0;  // where the first paragraph begins
    int lines_ = 1;
    WrapRule rule_;
    int columns_ = 80;
    int rows_ = 1;
    int top_ = 0;
    bool following_ = true;
    Pos anchor_ = 0, caret_ = 0;
    // Lines are numbered from the first ever added, so a number keeps naming
    // the same line across cuts.
    std::uint64_t cutLines_ = 0;
    std::uint64_t shownTop_ = 0;              // the top line at the last repaint
    std::uint64_t changedFrom_ = UINT64_MAX;  // the first line whose text changed since
    bool allChanged_ = true;
};

// How a character of the pane is drawn: a control character has no glyph in
// the pane's font, so it shows as a middle dot and keeps its cell; a tab is
// one blank cell.
inline char16_t PaneGlyph(char c) {
    const auto u = char16_t(static_cast<unsigned char>(c));
    if (u == u'\t')
        return u' ';
    return u < 0x20 || (u >= 0x7F && u < 0xA0) ? u'\u00B7' : u;
}

// Where the displayed line that starts at `start` of a paragraph ends, and the
// next begins; the paragraph's size when the rest fits.
std::size_t NextLineStart(std::string_view paragraph, std::size_t start, std::size_t columns,
                          WrapRule rule = WrapRule::BlanksHang);

}  // namespace kestrel
