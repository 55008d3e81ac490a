#include "gui/RxPane.h"

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
}

void TRxPane::appendText(std::string_view text) {
    if (text.empty())
        return;
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    c.insertText(QString::fromLatin1(text.data(), qsizetype(text.size())));
    if (displayedLineCount() > kKeepLines + kTrimLines)
        trimToLines(kKeepLines);
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
