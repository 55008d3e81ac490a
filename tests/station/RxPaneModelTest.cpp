// The receive panes' model: the wrap rule, keeping everything between trims,
// the trim, the operator's editing and keys, scrolling back, repaints.
//
// In order: the wrap table and its helpers; keeping everything between ticks
// and the trim; the operator's typing and keys; scrolling back; repaints;
// selection; a new width.

#include "station/RxPaneModel.h"
#include "station/RxPaneText.h"
#include "support/WrapTable.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using Move = RxPaneModel::Move;

// The whole text wrapped afresh, and its first line deleted one at a time:
// what the pane must show, however lazily it wraps.
std::vector<std::string> Wrapped(const std::string& text, int columns) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = text.find('\n', from);
        const std::string_view p = std::string_view(text).substr(from, end - from);
        for (std::size_t at = 0;;) {
            const std::size_t next = NextLineStart(p, at, std::size_t(columns));
            out.emplace_back(p.substr(at, next - at));
            if ((at = next) >= p.size())
                break;
        }
        if (end == std::string::npos)
            return out;
        from = end + 1;
    }
}

void TrimReference(std::string& text, int columns, int maxLines) {
    for (;;) {
        const std::vector<std::string> l = Wrapped(text, columns);
        const int counted = int(l.size()) - (l.back().empty() ? 1 : 0);
        if (counted <= maxLines)
            return;
        text.erase(0, l[0].size() + (l.size() > 1 && text.size() > l[0].size() && text[l[0].size()] == '\n'));
    }
}

std::vector<std::string> LinesOf(const RxPaneModel& m) {
    std::vector<std::string> out;
    for (int i = 0; i < m.lineCount(); ++i)
        out.emplace_back(m.line(i));
    return out;
}

std::vector<std::string> RowsOf(const RxPaneModel& m) {
    std::vector<std::string> out;
    for (int r = 0; r < m.rows(); ++r)
        out.emplace_back(m.rowText(r));
    return out;
}

std::string Noise(std::mt19937& rng, std::size_t n, int lineBreakPercent, int blankPercent) {
    std::uniform_int_distribution<int> pct(0, 99), byte(0, 255);
    std::string s;
    while (s.size() < n) {
        const int r = pct(rng);
        s += r < lineBreakPercent                  ? (pct(rng) < 50 ? '\r' : '\n')
             : r < lineBreakPercent + blankPercent ? ' '
                                                   : char(byte(rng));
    }
    return s;
}

TEST(RxPaneModel, WrapsAsTheTableSays) {
    for (const test::WrapCase& c : test::WrapTable()) {
        RxPaneModel m;
        m.setColumns(c.columns);
        m.append(c.text);
        EXPECT_EQ(LinesOf(m), c.lines) << c.what;
    }
}

// Bytes in events of random size, the view read as a window reads it, typing
// at random places, the whole text asked for now and then, trims at random
// ticks: at every step the pane holds exactly what it was given and shows
// what wrapping it afresh shows.
void RunStream(RxPaneText::Mode mode, int columns, const std::string& bytes, std::mt19937& rng) {
    RxPaneModel model;
    model.setColumns(columns);
    model.setRows(12);
    std::string reference;
    RxPaneText queue(mode);
    std::uniform_int_distribution<int> eventSize(1, 700), pct(0, 99);
    int ticks = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = std::min<std::size_t>(eventSize(rng), bytes.size() - i);
        for (std::size_t k = 0; k < n; ++k, ++i)
            queue.appendByte(std::uint8_t(bytes[i]));
        const std::string text = queue.take();
        model.append(text);
        reference += text;
        ASSERT_EQ(model.text(), reference) << "nothing is cut before the tick";
        const std::vector<std::string> lines = Wrapped(reference, columns);
        const int r = pct(rng);
        if (r < 40) {  // a paint while following the end
            std::vector<std::string> tail(lines.end() - std::min<std::ptrdiff_t>(12, std::ssize(lines)), lines.end());
            tail.resize(12);
            ASSERT_EQ(RowsOf(model), tail);
        } else if (r < 50) {  // the scroll bar asks for everything
            ASSERT_EQ(LinesOf(model), lines);
        } else if (r < 60) {  // the operator types at a random place
            const int line = std::uniform_int_distribution<int>(0, int(lines.size()) - 1)(rng);
            const RxPaneModel::Pos at = model.positionAt(line, pct(rng) % (columns + 2));
            model.select(at, at);
            model.insert(pct(rng) < 30 ? "typed words\n" : "x y");
            reference.insert(at, model.text().substr(at, model.caret() - at));
            ASSERT_EQ(model.text(), reference);
            model.caretToEnd();  // and follows the end again
        } else if (r < 80) {
            model.trim(RxPaneModel::kTrimLines);
            TrimReference(reference, columns, RxPaneModel::kTrimLines);
            ASSERT_EQ(model.text(), reference) << "tick " << ticks;
            ASSERT_EQ(LinesOf(model), Wrapped(reference, columns)) << "tick " << ticks;
            ++ticks;
        }
    }
    EXPECT_GE(ticks, 2);
}

TEST(RxPaneModel, KeepsEverythingBetweenTicksAndShowsWhatWrappingAfreshShows) {
    std::mt19937 rng(7);
    RunStream(RxPaneText::Mode::Hex, 32, Noise(rng, 8000, 1, 3), rng);
    for (int lineBreaks : {0, 1, 4, 30})
        for (int blanks : {0, 2, 15})
            RunStream(RxPaneText::Mode::Text, 41, Noise(rng, 5000, lineBreaks, blanks), rng);
}

TEST(RxPaneModel, TrimKeepsTheNewestLinesAndAnEmptyLastLineDoesNotCount) {
    RxPaneModel m;
    std::string text;
    for (int i = 1; i <= 25; ++i)
        text += "line " + std::to_string(i) + "\n";
    m.append(text);
    EXPECT_EQ(m.countedLines(), 25);
    m.trim(25);
    EXPECT_EQ(m.countedLines(), 25);
    m.trim(20);
    EXPECT_EQ(m.line(0), "line 6");
    EXPECT_EQ(m.lineCount(), 21);
}

TEST(RxPaneModel, ALongBurstIsKeptWholeUntilTheTickAndSelectAllCopiesAllOfIt) {
    RxPaneModel m;
    m.setColumns(39);
    m.setRows(30);
    std::string lines;
    for (int i = 0; i < 400; ++i)
        lines += "S" + std::to_string(10000 + i) + "\n";
    m.append(lines);
    EXPECT_EQ(m.rowText(28), "S10399");
    m.selectAll();
    EXPECT_EQ(m.selectedText(), lines);
    m.trim(RxPaneModel::kTrimLines);
    EXPECT_EQ(m.line(0), "S10380");
    EXPECT_EQ(m.selectedText(), m.text()) << "what the trim took is no longer selected";
}

TEST(RxPaneModel, AStalledTrimCutsTheOldestHalfInWholeLines) {
    RxPaneModel m;
    m.setColumns(8);
    m.setCharLimit(1000);
    RxPaneText hex(RxPaneText::Mode::Hex);
    for (int i = 0; i < 2000; ++i)
        hex.appendByte(std::uint8_t(i));
    m.append(hex.take());
    EXPECT_LE(m.text().size(), 1000u);
    EXPECT_TRUE(m.text().ends_with("CE CF "));
    EXPECT_EQ(m.line(0).size(), 9u) << "whole cells stay on a line after the cut";
}

TEST(RxPaneModel, TypedTextStaysWhereItWasTypedWhileReceivedBytesGoToTheEnd) {
    RxPaneModel m;
    m.setColumns(20);
    m.setRows(5);
    m.append("TNC RX\nabc\n");
    m.select(4, 4);  // "TNC |RX"
    m.insert("X");
    m.append("def");
    m.insert("Y");
    EXPECT_EQ(m.text(), "TNC XYRX\nabc\ndef");
    m.erase(false);  // Backspace
    m.erase(true);   // Delete
    EXPECT_EQ(m.text(), "TNC XX\nabc\ndef");
    m.select(0, 3);
    m.insert("a\r\nb\rc");  // typing over a selection; pasted breaks become line breaks
    EXPECT_EQ(m.text(), "a\nb\nc XX\nabc\ndef");
    m.select(2, 5);
    EXPECT_EQ(m.cut(), "b\nc");
    EXPECT_EQ(m.text(), "a\n XX\nabc\ndef");
    m.trim(2);
    EXPECT_EQ(m.text(), "abc\ndef") << "the trim takes typed lines too";
    EXPECT_EQ(m.caret(), 0u);
}

TEST(RxPaneModel, KeysMoveTheCaretAlongDisplayedLinesAndShiftSelects) {
    RxPaneModel m;
    m.setColumns(6);
    m.setRows(3);
    m.append("abc defgh ij\nklm");  // lines "abc ", "defgh ", "ij", "klm"
    m.select(5, 5);                 // "d|efgh"
    m.move(Move::LineEnd, false);
    EXPECT_EQ(m.caret(), 10u);
    EXPECT_EQ(m.caretCell()->column, 6) << "shown at the end of its line, not at the next one's start";
    m.move(Move::LineStart, false);
    EXPECT_EQ(m.caret(), 4u);
    m.move(Move::CharRight, false);
    m.move(Move::LineDown, false);
    m.move(Move::LineDown, false);
    EXPECT_EQ(m.caret(), 14u) << "column 1 of \"klm\"";
    m.move(Move::LineUp, true);
    EXPECT_EQ(m.selectedText(), "j\nk");
    m.move(Move::WordLeft, false);
    EXPECT_EQ(m.caret(), 10u);
    m.move(Move::WordRight, true);
    EXPECT_EQ(m.selectedText(), "ij\n");
    m.move(Move::TextStart, false);
    EXPECT_EQ(m.top(), 0) << "the view follows the caret";
    EXPECT_FALSE(m.following());
    m.move(Move::PageDown, false);
    EXPECT_EQ(m.caret(), 10u);
    m.move(Move::TextEnd, false);
    EXPECT_TRUE(m.following());
    EXPECT_EQ(m.caretCell()->row, 2);
}

TEST(RxPaneModel, ScrolledBackTheViewStaysUntilTheTrimTakesItsLinesThenShowsTheFirstLeft) {
    RxPaneModel m;
    m.setRows(5);
    for (int i = 0; i < 30; ++i)
        m.append("x" + std::to_string(i) + "\n");
    EXPECT_EQ(m.top(), m.maxTop());
    m.scrollTo(3);
    for (int i = 30; i < 300; ++i)
        m.append("x" + std::to_string(i) + "\n");
    EXPECT_EQ(m.rowText(0), "x3") << "nothing moves between ticks";
    m.scrollTo(285);
    m.trim(20);
    EXPECT_EQ(m.rowText(0), "x285") << "its lines kept: the same view";
    m.scrollTo(0);
    m.append("x300\n");
    m.trim(20);
    EXPECT_EQ(m.rowText(0), "x281") << "its lines cut: the first line left";
    EXPECT_FALSE(m.following());
    m.scroll(RxPaneModel::Step::End);
    m.append("last\n");
    EXPECT_EQ(m.rowText(3), "last");
}

// Between trims the text may all fit the view: the wheel turned up there
// still holds the view while lines come in.
TEST(RxPaneModel, TheWheelScrollsBackAndHoldsEvenWhileAllOfTheTextIsInView) {
    RxPaneModel m;
    m.setRows(10);
    for (int i = 0; i < 4; ++i)
        m.append("x" + std::to_string(i) + "\n");
    m.wheel(20, 3);
    EXPECT_TRUE(m.following()) << "half a line of a fine wheel: nothing yet";
    m.wheel(20, 3);
    EXPECT_FALSE(m.following());
    for (int i = 4; i < 30; ++i)
        m.append("x" + std::to_string(i) + "\n");
    EXPECT_EQ(m.rowText(0), "x0");
    m.wheel(-3 * RxPaneModel::kWheelNotch, 3);
    EXPECT_EQ(m.rowText(0), "x9");
    m.wheel(-10 * RxPaneModel::kWheelNotch, 3);
    EXPECT_TRUE(m.following()) << "down to the end: it follows again";
}

TEST(RxPaneModel, RepaintScrollsWhatIsShownAndPaintsOnlyTheChangedRows) {
    RxPaneModel m;
    m.setRows(4);
    m.append("a\nb\nc\nd\ne");  // shows b..e
    EXPECT_TRUE(m.takeRepaint().all);
    m.append("x\nf");  // "ex", then f: one line in, the old last line changed
    RxPaneModel::Repaint r = m.takeRepaint();
    EXPECT_FALSE(r.all);
    EXPECT_EQ(r.scrollLines, 1);
    EXPECT_EQ(r.firstRow, 2) << "the row that now shows \"ex\"";
    m.trim(2);  // "ex", "f" stay and move to the top
    r = m.takeRepaint();
    EXPECT_EQ(r.scrollLines, 2);
    EXPECT_EQ(r.firstRow, 2);
    m.append(std::string(10, '\n'));
    EXPECT_TRUE(m.takeRepaint().all) << "more new lines than rows";
}

TEST(RxPaneModel, SelectionCopiesAcrossWrapsAndBreaks) {
    RxPaneModel m;
    m.setColumns(4);
    m.setRows(10);
    m.append("ab cdef\ngh");  // lines: "ab ", "cdef", "gh"
    m.select(m.positionAt(0, 1), m.positionAt(2, 1));
    EXPECT_EQ(m.selectedText(), "b cdef\ng");
    EXPECT_EQ(m.rowSelection(0).first, 1);
    EXPECT_EQ(m.rowSelection(1).last, 4);
    EXPECT_EQ(m.rowSelection(2).last, 1);
    EXPECT_EQ(m.positionAtPoint(9.4, 25, 8, 12), m.positionAt(2, 1)) << "the nearest cell edge, third line";
    m.clear();
    EXPECT_FALSE(m.hasSelection());
}

TEST(RxPaneModel, ANewWidthWrapsEverythingAgain) {
    RxPaneModel m;
    m.setColumns(3);
    m.append("aa bb cc");
    EXPECT_EQ(m.lineCount(), 3);
    m.setColumns(8);
    EXPECT_EQ(m.lineCount(), 1);
    EXPECT_EQ(m.line(0), "aa bb cc");
}

}  // namespace
}  // namespace kestrel
