// The Qt receive pane: batched insertions, a bounded tail (see RxPane.h).

#include "gui/RxPane.h"

#include "station/RxPaneText.h"

#include <algorithm>

#include <QFontInfo>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

namespace kestrel {

TRxPane::TRxPane(QWidget* parent) : QPlainTextEdit(parent) {
    // An undo history would keep every received byte.
    document()->setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // A scroll bar that comes and goes would change the wrap width under the text.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Opaque, so that an insertion repaints the pane alone and not the group
    // box beneath its frame as well.
    setAutoFillBackground(true);
}

int TRxPane::keepLines() const {
    const int spacing = std::max(1, fontMetrics().lineSpacing());
    return std::max(kMinKeepLines, viewport()->height() / spacing + 2);
}

// What an insertion would cut again at once is dropped before it is laid out:
// laying out is the dear part, and a burst between two paints may hold far
// more than the pane keeps.
std::string_view TRxPane::dropTextBeyondTheMargin(std::string_view text) {
    const std::size_t keep = std::size_t(keepLines());
    if (const std::size_t from = FirstKeptParagraph(text, keep)) {
        clear();
        return text.substr(from);
    }
    if (cellChars_ <= 0 || text.find('\n') != std::string_view::npos || text.size() % std::size_t(cellChars_) != 0 ||
        !QFontInfo(font()).fixedPitch())
        return text;
    // Whole lines of the last paragraph, which then holds cells only.
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout());
    const QTextBlock last = document()->lastBlock();
    layout->ensureBlockLayout(last);
    const QTextLayout* lines = last.layout();
    const int n = lines->lineCount();
    if (n < 2)
        return text;
    const int perLine = lines->lineAt(0).textLength();
    if (perLine <= 0 || perLine % cellChars_ != 0)
        return text;
    for (int i = 1; i + 1 < n; ++i)
        if (lines->lineAt(i).textLength() != perLine)
            return text;
    const int inLastLine = last.length() - 1 - lines->lineAt(n - 1).textStart();
    if (inLastLine % cellChars_ != 0)
        return text;
    const std::size_t drop = WholeLinesToDrop(std::size_t(inLastLine) + text.size(), std::size_t(perLine), keep);
    if (drop == 0)
        return text;
    clear();
    return text.substr(drop - std::size_t(inLastLine));
}

void TRxPane::appendText(std::string_view text) {
    if (text.empty())
        return;
    text = dropTextBeyondTheMargin(text);
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    c.insertText(QString::fromLatin1(text.data(), qsizetype(text.size())));
    const int keep = keepLines();
    if (displayedLineCount() > keep + kCutSlack)
        trimToLines(keep);
    QScrollBar* sb = verticalScrollBar();
    sb->setValue(sb->maximum());
}

int TRxPane::displayedLineCount() {
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout());
    int lines = 0;
    QTextBlock last;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        layout->ensureBlockLayout(b);
        lines += b.layout()->lineCount();
        last = b;
    }
    if (last.isValid() && last.length() <= 1 && lines > 0)
        --lines;  // an empty last line does not count
    return lines;
}

// Document position where displayed line lineIndex (0-based) begins, or the
// end of the document when there are fewer lines.
int TRxPane::lineStartPosition(int lineIndex) {
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout());
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        layout->ensureBlockLayout(b);
        const int n = b.layout()->lineCount();
        if (lineIndex < n)
            return b.position() + b.layout()->lineAt(lineIndex).textStart();
        lineIndex -= n;
    }
    return document()->characterCount() - 1;
}

void TRxPane::trimToLines(int maxLines) {
    const int excess = displayedLineCount() - maxLines;
    if (excess <= 0)
        return;
    // Cutting n first lines at once equals deleting the first line n times:
    // the rest of a cut paragraph wraps again from a former line start.
    const int cut = lineStartPosition(excess);
    QTextCursor c(document());
    c.setPosition(0);
    c.setPosition(cut, QTextCursor::KeepAnchor);
    c.removeSelectedText();
}

}  // namespace kestrel
