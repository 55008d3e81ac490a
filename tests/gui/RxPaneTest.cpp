// The Qt receive pane: wraps at the columns the window's design gives its
// width (as the Windows pane does) as the toolkit's text pane wraps the same
// text at as many columns of the same font, draws the wrap table's lines, copies what the
// mouse selects, and its scroll bar reaches everything.

#include "gui/RxPane.h"
#include "station/RxPaneText.h"
#include "support/WrapTable.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kestrel {
namespace {

QFont PaneFont() { return TRxPane::designFont(); }

// The toolkit's own wrapping text pane, as the receive panes were built
// before, made as wide as holds `columns` cells of the font.
std::vector<std::string> ToolkitLines(const std::string& text, int columns) {
    QPlainTextEdit edit;
    edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit.setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit.setFont(PaneFont());
    edit.resize(400, 300);
    edit.show();
    QApplication::processEvents();
    const int around = edit.width() - edit.viewport()->width() + 2 * int(edit.document()->documentMargin());
    const int cell = QFontMetrics(PaneFont()).horizontalAdvance('0');
    edit.resize(columns * cell + cell / 2 + around, 300);
    edit.setPlainText(QString::fromLatin1(text.data(), qsizetype(text.size())));
    QApplication::processEvents();
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(edit.document()->documentLayout());
    std::vector<std::string> lines;
    for (QTextBlock b = edit.document()->begin(); b.isValid(); b = b.next()) {
        layout->ensureBlockLayout(b);
        for (int i = 0; i < b.layout()->lineCount(); ++i) {
            const QTextLine line = b.layout()->lineAt(i);
            lines.push_back(b.text().mid(line.textStart(), line.textLength()).toStdString());
        }
    }
    return lines;
}

struct Pane {
    explicit Pane(QSize size) {
        pane.setFocusPolicy(Qt::NoFocus);  // no caret in the pictures
        pane.setFont(PaneFont());
        pane.resize(size);
        pane.show();
        QApplication::processEvents();
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (int i = 0; i < pane.model().lineCount(); ++i)
            out.emplace_back(pane.model().line(i));
        return out;
    }
    TRxPane pane;
};

TEST(RxPane, WrapsWordsAndHexAsTheToolkitsTextPane) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pct(0, 99), letter('a', 'z');
    std::string words;
    while (words.size() < 3000)
        words += pct(rng) < 4 ? '\n' : pct(rng) < 18 ? ' ' : char(letter(rng));
    RxPaneText hex(RxPaneText::Mode::Hex);
    for (int i = 0; i < 300; ++i)
        hex.appendByte(std::uint8_t(i * 37));
    const std::string hexText = hex.take();
    for (const auto& [text, width] : {std::pair{words, 343}, std::pair{hexText, 265}, std::pair{words, 200}}) {
        Pane p(QSize(width, 300));
        p.pane.appendText(text);
        EXPECT_EQ(p.pane.model().columns(), design::PaneColumns(width, QFontMetrics(PaneFont()).horizontalAdvance('0')))
            << "as the Windows pane of this width";
        EXPECT_EQ(p.lines(), ToolkitLines(p.pane.model().text(), p.pane.model().columns())) << "width " << width;
    }
}

// What the pane draws for each text of the table equals what it draws for the
// table's lines, each a line of its own in a pane too wide to wrap them.
TEST(RxPane, DrawsTheWrapTablesLines) {
    for (const test::WrapCase& c : test::WrapTable()) {
        Pane wrapped(QSize(20, 120));
        int width = 20;
        while (wrapped.pane.model().columns() < c.columns)
            wrapped.pane.resize(++width, 120);
        ASSERT_EQ(wrapped.pane.model().columns(), c.columns);
        wrapped.pane.appendText(c.text);
        std::string lines;
        for (const std::string& line : c.lines)
            lines += (lines.empty() ? "" : "\n") + line;
        Pane unwrapped(QSize(700, 120));
        unwrapped.pane.appendText(lines);
        Pane empty(QSize(width, 120));
        const QRect area = wrapped.pane.viewport()->rect();
        const QImage drawn = wrapped.pane.viewport()->grab().toImage();
        EXPECT_TRUE(drawn == unwrapped.pane.viewport()->grab(area).toImage()) << c.what;
        if (c.text.find_first_not_of(" \t") != std::string::npos) {
            EXPECT_FALSE(drawn == empty.pane.viewport()->grab().toImage()) << c.what << ": nothing drawn";
        }
    }
}

TEST(RxPane, MouseSelectionIsCopiedWithCtrlCAndTheScrollBarReachesEverything) {
    Pane p(QSize(343, 120));
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "line " + std::to_string(i) + "\n";
    p.pane.appendText(text);
    QScrollBar* bar = p.pane.verticalScrollBar();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(bar, &enter);  // the pointer reaches for it between two ticks
    EXPECT_EQ(bar->maximum(), p.pane.model().lineCount() - p.pane.model().rows());
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(0);
    p.pane.appendText("more\n");
    EXPECT_EQ(bar->value(), 0) << "scrolled up, the pane stays where the operator looks";

    const QFontMetrics fm(PaneFont());
    const int y = 4 + fm.height() / 2;
    QTest::mousePress(p.pane.viewport(), Qt::LeftButton, {}, QPoint(4, y));
    QTest::mouseMove(p.pane.viewport(), QPoint(4 + 2 * fm.horizontalAdvance('0'), y + fm.height()));
    QTest::mouseRelease(p.pane.viewport(), Qt::LeftButton, {},
                        QPoint(4 + 2 * fm.horizontalAdvance('0'), y + fm.height()));
    QTest::keyClick(&p.pane, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("line 0\nli"));
}

// The wheel reaches the model, not only the scroll bar, which cannot move
// while all of the text is in view.
TEST(RxPane, TheWheelScrollsBackEvenWithAllOfTheTextInView) {
    Pane p(QSize(343, 300));
    p.pane.appendText("a\nb\n");
    QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(p.pane.viewport(), &up);
    EXPECT_FALSE(p.pane.model().following());
}

}  // namespace
}  // namespace kestrel
