// The receive panes' model: wrapping, the trim, the bounded tail, scrolling
// and the selection.

#include "station/RxPaneModel.h"
#include "station/RxPaneText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kestrel {
namespace {

// The whole text wrapped afresh and its first line deleted one at a time: what
// byte-by-byte appends and the trim would show.
class ReferencePane {
public:
    explicit ReferencePane(int columns) : columns_(std::size_t(columns)) {}
    void append(const std::string& s) { text_ += s; }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::size_t from = 0;
        for (;;) {
            const std::size_t end = text_.find('\n', from);
            const std::string_view p = std::string_view(text_).substr(from, end - from);
            for (std::size_t at = 0;;) {
                const std::size_t next = NextLineStart(p, at, columns_);
                out.emplace_back(p.substr(at, next - at));
                if ((at = next) >= p.size())
                    break;
            }
            if (end == std::string::npos)
                return out;
            from = end + 1;
        }
    }
    void trim(int maxLines) {
        for (;;) {
            std::vector<std::string> l = lines();
            const int counted = int(l.size()) - (l.back().empty() ? 1 : 0);
            if (counted <= maxLines)
                return;
            const std::size_t cut =
                l[0].size() + (l.size() > 1 && text_.size() > l[0].size() && text_[l[0].size()] == '\n');
            text_.erase(0, cut);
        }
    }
    const std::string& text() const { return text_; }

private:
    std::size_t columns_;
    std::string text_;
};

std::vector<std::string> LinesOf(const RxPaneModel& m) {
    std::vector<std::string> out;
    for (int i = 0; i < m.lineCount(); ++i)
        out.emplace_back(m.line(i));
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

// Bytes in events of random size to the model, one by one to the reference,
// both trimmed at random ticks and compared there.
void RunStream(RxPaneText::Mode mode, int columns, const std::string& bytes, std::mt19937& rng) {
    RxPaneModel model;
    model.setColumns(columns);
    model.setRows(12);
    ReferencePane reference(columns);
    RxPaneText queue(mode), single(mode);
    std::uniform_int_distribution<int> eventSize(1, 700), tickEvery(1, 4);
    int untilTick = tickEvery(rng), ticks = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = std::min<std::size_t>(eventSize(rng), bytes.size() - i);
        for (std::size_t k = 0; k < n; ++k, ++i) {
            queue.appendByte(std::uint8_t(bytes[i]));
            single.appendByte(std::uint8_t(bytes[i]));
            reference.append(single.take());
        }
        model.append(queue.take());
        ASSERT_LE(model.countedLines(), model.keepLines() + RxPaneModel::kCutSlack);
        ASSERT_TRUE(reference.text().ends_with(model.text()));
        if (--untilTick == 0) {
            untilTick = tickEvery(rng);
            model.trim(RxPaneModel::kTrimLines);
            reference.trim(RxPaneModel::kTrimLines);
            ASSERT_EQ(model.text(), reference.text()) << "tick " << ticks;
            ASSERT_EQ(LinesOf(model), reference.lines()) << "tick " << ticks;
            ++ticks;
        }
    }
    EXPECT_GE(ticks, 2);
}

TEST(RxPaneModel, LinesBreakAfterTheLastBlankThatFitsAndALongWordAnywhere) {
    EXPECT_EQ(NextLineStart("ab cd ef", 0, 5), 6u);
    EXPECT_EQ(NextLineStart("ab cd ef", 0, 4), 3u);
    EXPECT_EQ(NextLineStart("ab cde    f", 0, 6), 10u) << "blanks hang past the edge";
    EXPECT_EQ(NextLineStart("abcdefgh ij", 0, 5), 5u);
    EXPECT_EQ(NextLineStart("ab cdefghij", 3, 5), 8u);
    EXPECT_EQ(NextLineStart("ab cd   ", 0, 5), 8u) << "the rest fits";
    EXPECT_EQ(NextLineStart("00 01 02 03 ", 0, 8), 9u) << "three hex cells in eight columns";
}

TEST(RxPaneModel, AtEveryTickEqualsByteByByteAppendsAndTrim) {
    std::mt19937 rng(7);
    RunStream(RxPaneText::Mode::Hex, 32, Noise(rng, 6000, 1, 3), rng);
    for (int lineBreaks : {0, 1, 4, 30})
        for (int blanks : {0, 2, 15})
            RunStream(RxPaneText::Mode::Text, 41, Noise(rng, 4000, lineBreaks, blanks), rng);
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

TEST(RxPaneModel, LongBurstStaysBoundedAndEndsWithTheNewestBytes) {
    RxPaneModel m;
    m.setColumns(32);
    RxPaneText hex(RxPaneText::Mode::Hex);
    for (int i = 0; i < 200000; ++i) {
        hex.appendByte(std::uint8_t(i));
        if (hex.flushDue())
            m.append(hex.take());
    }
    m.append(hex.take());
    EXPECT_LE(m.countedLines(), m.keepLines() + RxPaneModel::kCutSlack);
    EXPECT_GE(m.countedLines(), m.keepLines());
    EXPECT_TRUE(m.text().ends_with("3E 3F "));
    EXPECT_EQ(m.line(0).size(), 33u) << "whole cells stay on a line after every cut";
}

TEST(RxPaneModel, FollowsTheEndUnlessScrolledUpAndACutKeepsTheSameLinesInView) {
    RxPaneModel m;
    m.setRows(5);
    for (int i = 0; i < 20; ++i)
        m.append("x" + std::to_string(i) + "\n");
    EXPECT_EQ(m.top(), m.maxTop());
    m.scrollTo(3);
    m.append("more\n");
    EXPECT_EQ(m.top(), 3);
    EXPECT_EQ(m.line(m.top()), "x3");
    m.trim(10);
    EXPECT_EQ(m.line(m.top()), "x11") << "the top line was cut: the first kept one shows";
    m.scrollTo(1000);
    m.append("last\n");
    EXPECT_EQ(m.top(), m.maxTop());
}

TEST(RxPaneModel, SelectionCopiesAcrossWrapsAndBreaksAndSurvivesCuts) {
    RxPaneModel m;
    m.setColumns(4);
    m.setRows(10);
    m.append("ab cdef\ngh");  // lines: "ab ", "cdef", "gh"
    m.select(m.positionAt(0, 1), m.positionAt(2, 1));
    EXPECT_EQ(m.selectedText(), "b cdef\ng");
    EXPECT_EQ(m.selectedColumns(0).first, 1);
    EXPECT_EQ(m.selectedColumns(1).last, 4);
    EXPECT_EQ(m.selectedColumns(2).last, 1);
    EXPECT_EQ(m.positionAtPoint(9.4, 25, 8, 12), m.positionAt(2, 1)) << "the nearest cell edge, third line";
    m.trim(1);
    EXPECT_EQ(m.selectedText(), "g") << "what the cut took is no longer selected";
    m.selectAll();
    EXPECT_EQ(m.selectedText(), "gh");
    m.clear();
    EXPECT_FALSE(m.hasSelection());
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
