// A receive pane to assistive technology (see RxPaneAccessible.h). Offsets
// are places in the model's text: the pane holds Latin-1, one character a
// byte.

#include "gui/RxPaneAccessible.h"

#include "gui/Latin1.h"
#include "gui/RxPane.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace kestrel {

TRxPaneAccessible::TRxPaneAccessible(TRxPane* pane) : QAccessibleWidget(pane, QAccessible::EditableText) {}

TRxPane* TRxPaneAccessible::pane() const { return static_cast<TRxPane*>(widget()); }

void* TRxPaneAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TRxPaneAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

// ---- Selection and caret ----------------------------------------------------------

void TRxPaneAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    const RxPaneModel& m = pane()->model();
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !m.hasSelection())
        return;
    *startOffset = int(std::min(m.anchor(), m.caret()));
    *endOffset = int(std::max(m.anchor(), m.caret()));
}

int TRxPaneAccessible::selectionCount() const { return pane()->model().hasSelection() ? 1 : 0; }

void TRxPaneAccessible::addSelection(int startOffset, int endOffset) { setSelection(0, startOffset, endOffset); }

void TRxPaneAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0)
        pane()->select(pane()->model().caret(), pane()->model().caret());
}

void TRxPaneAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex == 0)
        pane()->select(RxPaneModel::Pos(std::max(0, startOffset)), RxPaneModel::Pos(std::max(0, endOffset)));
}

int TRxPaneAccessible::cursorPosition() const { return int(pane()->model().caret()); }

void TRxPaneAccessible::setCursorPosition(int position) {
    const auto at = RxPaneModel::Pos(std::max(0, position));
    pane()->select(at, at);
}

// ---- Text --------------------------------------------------------------------------

QString TRxPaneAccessible::text(int startOffset, int endOffset) const {
    const std::string& t = pane()->model().text();
    const int n = int(t.size());
    if (endOffset < 0 || endOffset > n)  // -1: to the end
        endOffset = n;
    startOffset = std::clamp(startOffset, 0, endOffset);
    return Latin1(std::string_view(t).substr(std::size_t(startOffset), std::size_t(endOffset - startOffset)));
}

int TRxPaneAccessible::characterCount() const { return int(pane()->model().text().size()); }

std::pair<int, int> TRxPaneAccessible::unitAt(int offset, QAccessible::TextBoundaryType type) const {
    const RxPaneModel& m = pane()->model();
    const std::string& t = m.text();
    const int n = int(t.size());
    offset = std::clamp(offset, 0, n);
    switch (type) {
    case QAccessible::CharBoundary: return {offset, std::min(offset + 1, n)};
    case QAccessible::NoBoundary: return {0, n};
    case QAccessible::LineBoundary: {  // displayed lines: a wrap ends one too
        const int line = m.lineOf(RxPaneModel::Pos(offset));
        const int next = line + 1 < m.lineCount() ? int(m.positionAt(line + 1, 0)) : n;
        return {int(m.positionAt(line, 0)), next};
    }
    case QAccessible::ParagraphBoundary: {
        const std::size_t before = offset > 0 ? t.rfind('\n', std::size_t(offset - 1)) : std::string::npos;
        const std::size_t after = t.find('\n', std::size_t(offset));
        return {before == std::string::npos ? 0 : int(before) + 1, after == std::string::npos ? n : int(after) + 1};
    }
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary: {
        const QString all = Latin1(t);
        QTextBoundaryFinder finder(
            type == QAccessible::WordBoundary ? QTextBoundaryFinder::Word : QTextBoundaryFinder::Sentence, all);
        finder.setPosition(offset);
        int start = finder.isAtBoundary() ? offset : int(finder.toPreviousBoundary());
        finder.setPosition(offset);
        int end = int(finder.toNextBoundary());
        return {std::max(start, 0), end < 0 ? n : end};
    }
    }
    return {offset, offset};
}

QString TRxPaneAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                        int* endOffset) const {
    std::tie(*startOffset, *endOffset) = unitAt(offset, boundaryType);
    return text(*startOffset, *endOffset);
}

QString TRxPaneAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                            int* endOffset) const {
    const int at = unitAt(offset, boundaryType).first;
    if (at <= 0) {
        *startOffset = *endOffset = 0;
        return {};
    }
    std::tie(*startOffset, *endOffset) = unitAt(at - 1, boundaryType);
    return text(*startOffset, *endOffset);
}

QString TRxPaneAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                           int* endOffset) const {
    const int end = unitAt(offset, boundaryType).second;
    if (end >= characterCount()) {
        *startOffset = *endOffset = characterCount();
        return {};
    }
    std::tie(*startOffset, *endOffset) = unitAt(end, boundaryType);
    return text(*startOffset, *endOffset);
}

QString TRxPaneAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // One run, plain text.
    *startOffset = offset < characterCount() ? 0 : offset;
    *endOffset = offset < characterCount() ? characterCount() : offset;
    return {};
}

// ---- Places on the screen -------------------------------------------------------------

QRect TRxPaneAccessible::characterRect(int offset) const {
    const QRect cell = pane()->cellRect(RxPaneModel::Pos(std::max(0, offset)));
    if (cell.isNull())
        return {};
    return QRect(pane()->viewport()->mapToGlobal(cell.topLeft()), cell.size());
}

int TRxPaneAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint in = pane()->viewport()->mapFromGlobal(point);
    if (!pane()->viewport()->rect().contains(in))
        return -1;
    return int(pane()->positionAt(in));
}

void TRxPaneAccessible::scrollToSubstring(int startIndex, int /*endIndex*/) {
    pane()->scrollToShow(RxPaneModel::Pos(std::max(0, startIndex)));
}

// ---- Editing, as typed -------------------------------------------------------------------

void TRxPaneAccessible::deleteText(int startOffset, int endOffset) { replaceText(startOffset, endOffset, {}); }

void TRxPaneAccessible::insertText(int offset, const QString& text) { replaceText(offset, offset, text); }

void TRxPaneAccessible::replaceText(int startOffset, int endOffset, const QString& text) {
    pane()->select(RxPaneModel::Pos(std::max(0, startOffset)), RxPaneModel::Pos(std::max(0, endOffset)));
    pane()->replaceSelection(text);
}

QAccessibleInterface* RxPaneAccessibleFactory(const QString& /*className*/, QObject* object) {
    if (auto* pane = qobject_cast<TRxPane*>(object))
        return new TRxPaneAccessible(pane);
    return nullptr;
}

}  // namespace kestrel
