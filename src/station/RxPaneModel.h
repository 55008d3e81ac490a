#pragma once
// A receive pane's text as the operator sees it, without a toolkit: the text
// the line brought and the operator typed, wrapped into displayed lines of a
// fixed number of columns (the panes use a fixed-pitch font, so wrapping is
// counting), the one-second trim, the caret and the selection, the keys that
// edit and move them, and scrolling. Each window draws the rows in view from
// here and passes on its mouse and keys, so both programs behave alike.
//
// The wrap rule, that of a rich-text pane:
// - A line break ('\n') ends a line; an empty paragraph is one empty line.
// - A word is a run of characters that are not blanks (blank: space or tab;
//   a tab is one blank cell, a control character one cell shown as a dot).
//   A line takes as many whole words as fit in its columns; only blanks
//   break a line, never a hyphen or other punctuation (received bytes are
//   not prose).
// - The blanks after the last word of a line stay on that line however many
//   there are: they hang past the edge and never start the next line.
// - A word longer than a whole line starts a line of its own and is broken
//   where the line is full (all columns used); its rest starts the next line.
// A line starts only where the line before it ended, so cutting whole first
// lines never moves a later wrap.
//
// Between two trims the pane keeps everything; only what is shown or asked
// for is wrapped (the rows in view and the trim need the last lines only; the
// scroll bar, a caret above them or scrolling back need more), and what was
// wrapped is kept until the text it covers changes.

#include "station/WindowDesign.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class RxPaneModel {
public:
    // A place in text(): before the character at that offset.
    using Pos = std::size_t;

    static constexpr int kTrimLines = design::kTrimLines;
    // The most a pane holds should its trim not come: far more than the
    // fastest serial line brings in a second (a 4 Mbaud line fills a hex pane
    // with 1.2 MB a second), so only a stalled trim ever meets it; then the
    // oldest half goes, in whole lines.
    static constexpr std::size_t kDefaultCharLimit = std::size_t(16) << 20;

    // The wrap width in characters and the lines the window shows; both at
    // least 1. A new width wraps everything again.
    void setColumns(int columns);
    void setRows(int rows);
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    void setCharLimit(std::size_t limit) { charLimit_ = std::max<std::size_t>(limit, 2); }

    // ---- The text ----
    // Received text (Latin-1, '\n' line breaks): always added at the end,
    // wherever the caret is.
    void append(std::string_view text);
    // Deletes first displayed lines until at most maxLines remain (an empty
    // last line does not count), typed text included.
    void trim(int maxLines);
    void clear();
    const std::string& text() const { return text_; }
    // Displayed lines, an empty last one included (the one new text goes to).
    // These wrap all of the text.
    int lineCount() const;
    // Displayed lines as the trim counts them.
    int countedLines() const;
    // A displayed line's characters, blanks at its end included.
    std::string_view line(int index) const;

    // ---- The operator's editing ----
    // Typed or pasted text at the caret, in place of the selection; CR LF and
    // CR become line breaks, zero characters are left out.
    void insert(std::string_view text);
    // Backspace (the character before the caret) or Delete (the one after
    // it); either removes the selection when there is one.
    void erase(bool forward);
    // Removes the selection and returns it (Ctrl+X).
    std::string cut();
    enum class Move {
        CharLeft,
        CharRight,
        WordLeft,
        WordRight,
        LineUp,
        LineDown,
        PageUp,
        PageDown,
        LineStart,
        LineEnd,
        TextStart,
        TextEnd
    };
    // Moves the caret; with extend (Shift held) the selection grows with it.
    // The view scrolls to keep the caret in sight.
    void move(Move move, bool extend);
    // Focus from the keyboard: the caret goes to the end, nothing selected.
    void caretToEnd();
    Pos caret() const { return caret_; }
    Pos anchor() const { return anchor_; }

    // ---- Scrolling: the first line in view ----
    // These count lines from the top of the text, so they wrap all of it.
    int top() const;
    int maxTop() const;
    // Clamped; scrolled to the end, the pane follows new text again.
    void scrollTo(int top);
    // Back (lines < 0) is back even while all of the text is in view: the
    // view holds the lines it shows from then on.
    void scrollBy(int lines);
    // The wheel: delta in the system's units (kWheelNotch a notch; a fine
    // wheel or a touch pad sends less, kept until it makes a line), lines a
    // notch as the system is set.
    static constexpr int kWheelNotch = 120;
    void wheel(int delta, int linesPerNotch);
    // The scroll bar's arrows and pages; a page keeps one line of the
    // last in view.
    enum class Step { LineUp, LineDown, PageUp, PageDown, Top, End };
    void scroll(Step step);
    // Scrolled to the end: new text scrolls into view. Scrolled back, the view
    // stays on the lines it shows until the trim removes them; then it shows
    // the first line left. A window's scroll bar only moves to the end while
    // the pane follows, so it is brought up to date at the trim and when the
    // pointer reaches for it rather than at every burst (redrawing it cost as
    // much as the text).
    bool following() const { return following_; }

    // ---- Drawing ----
    // The line shown in row `row` of the view (empty below the text).
    std::string_view rowText(int row) const;
    // The selected columns [first, last) of a row; first == last when none.
    struct Columns {
        int first = 0, last = 0;
    };
    Columns rowSelection(int row) const;
    // Where the caret shows, when it is in view (its column may lie past the
    // last one after blanks that hang; a window draws it at the edge then).
    struct Cell {
        int row = 0, column = 0;
    };
    std::optional<Cell> caretCell() const;
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

    // ---- For assistive technology ----
    // Counting displayed lines from the top of the text (so these wrap all
    // of it): the line that holds pos, and where pos shows in view (none
    // when it is scrolled out).
    int lineOf(Pos pos) const;
    std::optional<Cell> cellOf(Pos pos) const;

    // ---- Selection ----
    // The place before column `column` of displayed line `line`, both clamped.
    Pos positionAt(int line, int column) const;
    // The place nearest a point in the window, for cells cellWidth wide and
    // lines lineHeight high, with the text starting at (0, 0).
    Pos positionAtPoint(double x, double y, double cellWidth, double lineHeight) const;
    void select(Pos anchor, Pos caret);
    void extendTo(Pos caret) { select(anchor_, caret); }
    // A press of the mouse button puts the caret there; with Shift held it
    // extends the selection there is.
    void press(double x, double y, double cellWidth, double lineHeight, bool extend);
    // The mouse dragged to (x, y) of a window viewHeight high: dragging past
    // its top or bottom edge scrolls a line.
    void drag(double x, double y, double cellWidth, double lineHeight, double viewHeight);
    void selectAll();
    bool hasSelection() const { return anchor_ != caret_; }
    // Line breaks as '\n'; a wrap is no break.
    std::string selectedText() const;

private:
    static constexpr Pos kNone = SIZE_MAX;
    // A caret and how it shows where a wrapped line ends: the place after
    // the line's last character is also where the next line starts.
    struct Place {
        Pos pos = 0;
        bool lineEnd = false;  // shown at the end of the line before
    };

    // ---- The wrapped lines (a cache; see wrapped_) ----
    void settle(std::size_t lastLines) const;
    void settleAll() const;
    void coverFrom(Pos pos) const;
    void coverLines(std::size_t lines) const;
    void wrapForward(Pos from) const;
    void wrapParagraphs(Pos from, Pos to, std::vector<Pos>& out) const;
    void resetWrap();
    std::size_t lineIndexOf(Pos pos) const;
    std::string_view cachedLine(std::size_t index) const;
    Pos lineEndOf(std::size_t index) const;
    bool wrapsAfter(std::size_t index) const;
    Pos paragraphStart(Pos pos) const;
    std::size_t tailLines() const;

    // ---- The view and the caret ----
    std::size_t topIndex() const;
    std::size_t caretLine() const;
    Place placeAt(std::size_t line, int column) const;
    Place placeAtPoint(double x, double y, double cellWidth, double lineHeight) const;
    void setCaret(Place place, bool extend);
    void showCaret();
    void scrollToIndex(std::size_t index);

    // ---- Changing the text ----
    void replace(Pos from, Pos to, std::string_view with);
    void cutFront(Pos at);
    void keepWithinLimit();

    std::string text_;
    // The wrapped lines: where each displayed line of a run of whole lines
    // starts, from a paragraph's start to the end of the text. Text after
    // wrappedTo_ is not wrapped yet (its last line may still grow).
    mutable std::deque<Pos> starts_{0};
    mutable Pos wrappedTo_ = 0;

    int columns_ = 80;
    int rows_ = 1;
    std::size_t charLimit_ = kDefaultCharLimit;
    bool following_ = true;
    Pos topPos_ = 0;     // scrolled back: the start of the first line in view
    int wheelRest_ = 0;  // of the wheel's delta, less than a line
    Pos anchor_ = 0, caret_ = 0;
    bool caretAtLineEnd_ = false;
    int goalColumn_ = -1;       // the column Up and Down keep to
    Pos shownTop_ = kNone;      // the top line's start at the last repaint
    std::size_t shownCut_ = 0;  // lines of that picture cut since, above shownTop_
    Pos changedFrom_ = kNone;   // the first place whose text changed since
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
std::size_t NextLineStart(std::string_view paragraph, std::size_t start, std::size_t columns);

}  // namespace kestrel
