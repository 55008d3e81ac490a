// The receive panes: what they show at each trim must equal appending every
// byte on its own and then deleting first displayed lines one by one.

#include "gui/RxPane.h"
#include "station/RxPaneText.h"

#include <QApplication>
#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kestrel {
namespace {

// The plain byte-by-byte pane the fast one must match.
class ReferencePane : public QPlainTextEdit {
public:
    explicit ReferencePane(RxPaneText::Mode mode) : mode_(mode) {
        document()->setUndoRedoEnabled(false);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

    void appendByte(unsigned char b) {
        QString s;
        if (mode_ == RxPaneText::Mode::Hex) {
            s = QString::asprintf("%02X ", b);
        } else if (b == 0 || (b == '\n' && lastCR_)) {
            s.clear();
        } else if (b == '\r' || b == '\n') {
            s = QStringLiteral("\n");
        } else {
            s = QChar(char16_t(b));
        }
        lastCR_ = (b == '\r');
        if (s.isEmpty())
            return;
        QTextCursor c(document());
        c.movePosition(QTextCursor::End);
        c.insertText(s);
    }

    std::vector<int> lineStarts() {
        auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout());
        std::vector<int> starts;
        QTextBlock last;
        for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
            layout->ensureBlockLayout(b);
            for (int i = 0; i < b.layout()->lineCount(); ++i)
                starts.push_back(b.position() + b.layout()->lineAt(i).textStart());
            last = b;
        }
        if (last.isValid() && last.length() <= 1 && !starts.empty())
            starts.pop_back();
        return starts;
    }

    // Deletes the first displayed line while more than maxLines are shown.
    void trim(int maxLines) {
        for (;;) {
            const std::vector<int> starts = lineStarts();
            if (static_cast<int>(starts.size()) <= maxLines)
                return;
            QTextCursor c(document());
            c.setPosition(0);
            c.setPosition(starts[1], QTextCursor::KeepAnchor);
            c.removeSelectedText();
        }
    }

private:
    RxPaneText::Mode mode_;
    bool lastCR_ = false;
};

// The window's way of feeding a pane: the engine's queued text, inserted in batches.
class BatchedPane : public TRxPane {
public:
    explicit BatchedPane(RxPaneText::Mode mode) : queue_(mode) {
        if (mode == RxPaneText::Mode::Hex)
            setCellChars(3);
    }
    void appendByte(unsigned char b) { queue_.appendByte(b); }
    bool flushDue() const { return queue_.flushDue(); }
    void flush() { appendText(queue_.take()); }

private:
    RxPaneText queue_;
};

QFont FixedFont() {
    QFont f(QStringLiteral("Consolas"));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(14);
    return f;
}

template <class Pane>
void Prepare(Pane& pane, int width) {
    pane.setFont(FixedFont());
    pane.resize(width, 300);
    pane.show();
}

struct Panes {
    Panes(RxPaneText::Mode mode, int width) : fast(mode), reference(mode) {
        Prepare(fast, width);
        Prepare(reference, width);
        QApplication::processEvents();
    }
    BatchedPane fast;
    ReferencePane reference;
};

// Feeds bytes in events of random size to the fast pane and one by one to the
// reference, trimming both at random ticks; compares at every tick.
void RunStream(Panes& p, const std::string& bytes, std::mt19937& rng, int& ticks) {
    std::uniform_int_distribution<int> eventSize(1, 600);
    std::uniform_int_distribution<int> tickEvery(1, 4);
    std::size_t i = 0;
    int untilTick = tickEvery(rng);
    while (i < bytes.size()) {
        const std::size_t n = std::min<std::size_t>(eventSize(rng), bytes.size() - i);
        for (std::size_t k = 0; k < n; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            p.fast.appendByte(b);
            p.reference.appendByte(b);
            if (p.fast.flushDue())
                p.fast.flush();
        }
        i += n;
        p.fast.flush();
        // Between ticks the fast pane holds the newest part of the text.
        ASSERT_TRUE(p.reference.toPlainText().endsWith(p.fast.toPlainText()));
        if (--untilTick == 0) {
            untilTick = tickEvery(rng);
            p.fast.trimToLines(TRxPane::kTrimLines);
            p.reference.trim(TRxPane::kTrimLines);
            ASSERT_EQ(p.fast.toPlainText(), p.reference.toPlainText()) << "tick " << ticks;
            ASSERT_LE(p.fast.displayedLineCount(), TRxPane::kTrimLines);
            ++ticks;
        }
    }
}

std::string Noise(std::mt19937& rng, std::size_t n, int lineBreakPercent, int blankPercent) {
    std::uniform_int_distribution<int> pct(0, 99);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> printable(0x21, 0x7E);
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        const int r = pct(rng);
        if (r < lineBreakPercent)
            s += (pct(rng) < 50) ? "\r\n" : "\r";
        else if (r < lineBreakPercent + blankPercent)
            s += ' ';
        else if (pct(rng) < 20)
            s += static_cast<char>(byte(rng));
        else
            s += static_cast<char>(printable(rng));
    }
    return s;
}

TEST(RxPane, HexPaneAtEveryTickEqualsByteByByteAppendsAndTrim) {
    Panes p(RxPaneText::Mode::Hex, 265);
    std::mt19937 rng(7);
    int ticks = 0;
    RunStream(p, Noise(rng, 8000, 1, 3), rng, ticks);
    EXPECT_GT(ticks, 5);
}

TEST(RxPane, TextPaneAtEveryTickEqualsByteByByteAppendsAndTrim) {
    std::mt19937 rng(11);
    int ticks = 0;
    for (int lineBreaks : {0, 1, 4, 30}) {
        Panes p(RxPaneText::Mode::Text, 343);
        for (int blanks : {0, 2, 15})
            RunStream(p, Noise(rng, 2500, lineBreaks, blanks), rng, ticks);
    }
    EXPECT_GT(ticks, 20);
}

TEST(RxPane, TrimKeepsTwentyLinesAndCutsTwentyFiveToTheNewest) {
    Panes p(RxPaneText::Mode::Text, 343);
    std::string twenty;
    for (int i = 1; i <= 20; ++i)
        twenty += "line " + std::to_string(i) + "\r";
    for (char c : twenty)
        p.fast.appendByte(static_cast<unsigned char>(c));
    p.fast.flush();
    const QString before = p.fast.toPlainText();
    p.fast.trimToLines(20);
    EXPECT_EQ(p.fast.toPlainText(), before) << "an empty last line does not count";

    for (int i = 21; i <= 25; ++i)
        for (char c : "line " + std::to_string(i) + "\r")
            p.fast.appendByte(static_cast<unsigned char>(c));
    p.fast.flush();
    EXPECT_EQ(p.fast.displayedLineCount(), 25);
    p.fast.trimToLines(20);
    EXPECT_EQ(p.fast.displayedLineCount(), 20);
    EXPECT_TRUE(p.fast.toPlainText().startsWith(QStringLiteral("line 6\n")));
}

TEST(RxPane, WrappedHexParagraphIsCutWhereThePaneWrapsIt) {
    Panes p(RxPaneText::Mode::Hex, 265);
    // Enough bytes for 30 displayed lines of the one paragraph.
    std::string bytes;
    int lines = 0;
    while (lines < 30) {
        const auto b = static_cast<unsigned char>(bytes.size() & 0xFF);
        bytes += static_cast<char>(b);
        p.reference.appendByte(b);
        lines = static_cast<int>(p.reference.lineStarts().size());
    }
    for (char c : bytes)
        p.fast.appendByte(static_cast<unsigned char>(c));
    p.fast.flush();
    ASSERT_EQ(p.fast.displayedLineCount(), 30);
    ASSERT_EQ(p.fast.document()->blockCount(), 1) << "the hex pane gets no line breaks";

    const std::vector<int> starts = p.reference.lineStarts();
    const QString expected = p.reference.toPlainText().mid(starts[10]);
    p.fast.trimToLines(20);
    EXPECT_EQ(p.fast.toPlainText(), expected);
    EXPECT_EQ(p.fast.displayedLineCount(), 20);
    // A whole number of bytes per line here: the cut falls before a byte's digits.
    EXPECT_EQ(starts[10] % 3, 0);
}

TEST(RxPane, LongBurstStaysBoundedWhileTheNewestLinesRemain) {
    Panes p(RxPaneText::Mode::Hex, 265);
    for (int i = 0; i < 200000; ++i) {
        p.fast.appendByte(static_cast<unsigned char>(i));
        if (p.fast.flushDue())
            p.fast.flush();
    }
    p.fast.flush();
    EXPECT_LE(p.fast.displayedLineCount(), p.fast.keepLines() + TRxPane::kCutSlack);
    EXPECT_GE(p.fast.displayedLineCount(), p.fast.keepLines());
    EXPECT_TRUE(p.fast.toPlainText().endsWith(QString::asprintf("%02X ", (200000 - 1) & 0xFF)));
}

}  // namespace
}  // namespace kestrel
