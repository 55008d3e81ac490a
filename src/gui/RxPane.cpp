// The Qt receive pane: draws the model's lines in view (see RxPane.h).

#include "gui/RxPane.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <cmath>

namespace kestrel {
namespace {

// Where the text starts inside the viewport, as in the toolkit's text panes.
constexpr int kMargin = 4;

QString Shown(std::string_view line) {
    QString s(qsizetype(line.size()), Qt::Uninitialized);
    QChar* out = s.data();
    for (char c : line)
        *out++ = QChar(PaneGlyph(c));
    return s;
}

}  // namespace

TRxPane::TRxPane(QWidget* parent) : QAbstractScrollArea(parent) {
    // A scroll bar that comes and goes would change the wrap width under the text.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    // Opaque, so that a repaint draws the pane alone and not the group box
    // beneath its frame as well.
    setAutoFillBackground(true);
    fitToViewport();
}

void TRxPane::appendText(std::string_view text) {
    if (text.empty())
        return;
    model_.append(text);
    showChanges(!model_.following());
}

void TRxPane::trimToLines(int maxLines) {
    model_.trim(maxLines);
    showChanges();
}

void TRxPane::clear() {
    model_.clear();
    showChanges();
}

void TRxPane::setPlainText(std::string_view text) {
    model_.clear();
    appendText(text);
}

QString TRxPane::toPlainText() const {
    const std::string text = model_.text();
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

void TRxPane::copy() const {
    if (!model_.hasSelection())
        return;
    const std::string text = model_.selectedText();
    QApplication::clipboard()->setText(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void TRxPane::selectAll() {
    model_.selectAll();
    showChanges();
}

void TRxPane::fitToViewport() {
    const QFontMetricsF metrics(font());
    cellWidth_ = std::max(1.0, metrics.horizontalAdvance(QLatin1Char('0')));
    rawFont_ = QRawFont::fromFont(font());
    QString all(256, Qt::Uninitialized);
    for (int c = 0; c < 256; ++c)
        all[c] = QChar(PaneGlyph(char(c)));
    const QList<quint32> indexes = rawFont_.isValid() ? rawFont_.glyphIndexesForString(all) : QList<quint32>();
    for (int c = 0; c < 256; ++c)
        glyphs_[std::size_t(c)] = c < indexes.size() ? indexes[c] : 0;
    run_.setRawFont(rawFont_);
    lineHeight_ = std::max(1, int(std::ceil(metrics.height())));
    // The toolkit's panes keep a margin on each side and a pixel for the caret.
    const int width = viewport()->width() - 2 * kMargin - 1;
    model_.setColumns(int(std::floor(width / cellWidth_)));
    model_.setRows(std::max(1, (viewport()->height() - kMargin) / lineHeight_));
    showChanges();
}

// The scroll bar and the picture follow the model.
void TRxPane::showChanges(bool scrollBar) {
    if (scrollBar) {
        QScrollBar* bar = verticalScrollBar();
        syncingScrollBar_ = true;
        bar->setRange(0, model_.maxTop());
        bar->setPageStep(model_.rows());
        bar->setValue(model_.top());
        syncingScrollBar_ = false;
    }
    const RxPaneModel::Repaint r = model_.takeRepaint();
    QWidget* view = viewport();
    if (r.all)
        return view->update();
    if (r.scrollLines > 0) {
        view->scroll(0, -r.scrollLines * lineHeight_);
        view->update(0, 0, view->width(), kMargin);  // the margin must not scroll
    }
    const int y = kMargin + r.firstRow * lineHeight_;
    if (y < view->height())
        view->update(0, y, view->width(), view->height() - y);
}

void TRxPane::scrollContentsBy(int, int) {
    if (syncingScrollBar_)
        return;
    model_.scrollTo(verticalScrollBar()->value());
    showChanges();
}

void TRxPane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    fitToViewport();
}

void TRxPane::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitToViewport();
}

void TRxPane::drawLine(QPainter& painter, QPointF at, std::string_view line) {
    runGlyphs_.resize(qsizetype(line.size()));
    runPositions_.resize(qsizetype(line.size()));
    for (std::size_t i = 0; i < line.size(); ++i) {
        const quint32 glyph = glyphs_[static_cast<unsigned char>(line[i])];
        if (glyph == 0)
            return painter.drawText(at, Shown(line));
        runGlyphs_[qsizetype(i)] = glyph;
        runPositions_[qsizetype(i)] = QPointF(double(i) * cellWidth_, 0);
    }
    run_.setGlyphIndexes(runGlyphs_);
    run_.setPositions(runPositions_);
    painter.drawGlyphRun(at, run_);
}

void TRxPane::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette& pal = palette();
    const double ascent = QFontMetricsF(font()).ascent();
    const int top = model_.top();
    const int last = std::min(model_.lineCount(), top + model_.rows() + 1);
    for (int i = top; i < last; ++i) {
        const std::string_view line = model_.line(i);
        const double y = kMargin + (i - top) * lineHeight_;
        if (y + lineHeight_ <= event->rect().top() || y >= event->rect().bottom() + 1)
            continue;
        painter.setPen(pal.color(QPalette::Text));
        drawLine(painter, QPointF(kMargin, y + ascent), line);
        const RxPaneModel::Columns sel = model_.selectedColumns(i);
        if (sel.first == sel.last)
            continue;
        const QRectF band(kMargin + sel.first * cellWidth_, y, (sel.last - sel.first) * cellWidth_, lineHeight_);
        painter.fillRect(band, pal.color(QPalette::Highlight));
        painter.setPen(pal.color(QPalette::HighlightedText));
        drawLine(painter, QPointF(band.left(), y + ascent),
                 line.substr(std::size_t(sel.first), std::size_t(sel.last - sel.first)));
    }
}

RxPaneModel::Pos TRxPane::positionAt(QPointF point) const {
    return model_.positionAtPoint(point.x() - kMargin, point.y() - kMargin, cellWidth_, lineHeight_);
}

void TRxPane::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    model_.press(positionAt(event->position()), event->modifiers() & Qt::ShiftModifier);
    showChanges();
}

void TRxPane::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    model_.drag(event->position().x() - kMargin, event->position().y() - kMargin, cellWidth_, lineHeight_,
                viewport()->height() - kMargin);
    showChanges();
}

void TRxPane::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && model_.hasSelection() && QApplication::clipboard()->supportsSelection()) {
        const std::string text = model_.selectedText();
        QApplication::clipboard()->setText(QString::fromLatin1(text.data(), qsizetype(text.size())),
                                           QClipboard::Selection);
    }
}

void TRxPane::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy)
        return copy();
    if (event == QKeySequence::SelectAll)
        return selectAll();
    using Step = RxPaneModel::Step;
    switch (event->key()) {
    case Qt::Key_Up: model_.scroll(Step::LineUp); break;
    case Qt::Key_Down: model_.scroll(Step::LineDown); break;
    case Qt::Key_PageUp: model_.scroll(Step::PageUp); break;
    case Qt::Key_PageDown: model_.scroll(Step::PageDown); break;
    case Qt::Key_Home: model_.scroll(Step::Top); break;
    case Qt::Key_End: model_.scroll(Step::End); break;
    default: return event->ignore();  // the window's shortcuts
    }
    showChanges();
}

void TRxPane::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, [this] { copy(); });
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(model_.hasSelection());
    QAction* all = menu.addAction(tr("Select All"), this, [this] { selectAll(); });
    all->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

}  // namespace kestrel
