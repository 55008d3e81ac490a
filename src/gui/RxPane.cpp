// The Qt receive pane: draws the model's rows in view and maps the keyboard
// and the mouse to it (see RxPane.h).
//
// In order: the model fed (append, trim, clear, copy, cut, paste); the model
// fitted to the viewport and the scroll bar kept with it; painting the rows in
// view and the caret; focus, mouse and keys handed to the model; the context
// menu.

#include "gui/RxPane.h"

#include "gui/Latin1.h"
#include "gui/RxPaneAccessible.h"
#include "station/RxPaneKeys.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>

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

// The pane's keys by the names the rule (station/RxPaneKeys.h) knows.
std::optional<PaneEditKey> EditKeyOf(int key) {
    switch (key) {
    case Qt::Key_Left: return PaneEditKey::Left;
    case Qt::Key_Right: return PaneEditKey::Right;
    case Qt::Key_Up: return PaneEditKey::Up;
    case Qt::Key_Down: return PaneEditKey::Down;
    case Qt::Key_PageUp: return PaneEditKey::PageUp;
    case Qt::Key_PageDown: return PaneEditKey::PageDown;
    case Qt::Key_Home: return PaneEditKey::Home;
    case Qt::Key_End: return PaneEditKey::End;
    case Qt::Key_Delete: return PaneEditKey::Delete;
    case Qt::Key_Backspace: return PaneEditKey::Backspace;
    case Qt::Key_Return:
    case Qt::Key_Enter: return PaneEditKey::Enter;
    case Qt::Key_Insert: return PaneEditKey::Insert;
    case Qt::Key_A: return PaneEditKey::A;
    case Qt::Key_C: return PaneEditKey::C;
    case Qt::Key_V: return PaneEditKey::V;
    case Qt::Key_X: return PaneEditKey::X;
    default: return std::nullopt;
    }
}

}  // namespace

QFont TRxPane::designFont() {
    const design::FontRequest& d = design::kPaneFont;
    QFont f(QString::fromLatin1(d.face));
    for (const char* face : design::kPaneFontFaces)
        if (QFontDatabase::hasFamily(QString::fromLatin1(face))) {
            f.setFamily(QString::fromLatin1(face));
            break;
        }
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(d.pixelHeight);
    f.setBold(d.bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

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
    verticalScrollBar()->installEventFilter(this);
    fitToViewport();
    static const bool accessible = [] {
        QAccessible::installFactory(RxPaneAccessibleFactory);
        return true;
    }();
    (void)accessible;
}

void TRxPane::appendText(std::string_view text) {
    if (text.empty())
        return;
    model_.append(text);
    showChanges(!model_.following());
}

void TRxPane::trimToLines(int maxLines) {
    tellReaders(false);  // what came since the last tick
    model_.trim(maxLines);
    showChanges();
    tellReaders(false);  // what the trim took
}

void TRxPane::clear() {
    model_.clear();
    showChanges();
    tellReaders(false);
}

void TRxPane::setPlainText(std::string_view text) {
    model_.clear();
    appendText(text);
}

QString TRxPane::toPlainText() const { return Latin1(model_.text()); }

void TRxPane::copy() const {
    if (model_.hasSelection())
        QApplication::clipboard()->setText(Latin1(model_.selectedText()));
}

void TRxPane::cut() {
    if (!model_.hasSelection())
        return;
    QApplication::clipboard()->setText(Latin1(model_.cut()));
    showChanges();
    tellReaders(true);
}

void TRxPane::paste() { replaceSelection(QApplication::clipboard()->text()); }

void TRxPane::selectAll() {
    model_.selectAll();
    showChanges();
    tellReaders(true);
}

void TRxPane::select(RxPaneModel::Pos anchor, RxPaneModel::Pos caret) {
    model_.select(anchor, caret);
    showChanges();
    tellReaders(true);
}

void TRxPane::replaceSelection(const QString& text) {
    RxPanePaste(model_, text.toStdU16String());
    showChanges();
    tellReaders(true);
}

void TRxPane::fitToViewport() {
    const QFontMetricsF metrics(font());
    // Whole pixels, as the Windows pane measures its cells.
    cellWidth_ = std::max(1.0, std::round(metrics.horizontalAdvance(QLatin1Char('0'))));
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
    const int room = viewport()->width() - 2 * kMargin - 1;
    model_.setColumns(std::min(design::PaneColumns(width(), int(cellWidth_)), int(std::floor(room / cellWidth_))));
    model_.setRows(std::max(1, (viewport()->height() - kMargin) / lineHeight_));
    showChanges();
}

void TRxPane::syncScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    syncingScrollBar_ = true;
    bar->setRange(0, model_.maxTop());
    bar->setPageStep(model_.rows());
    bar->setValue(model_.top());
    syncingScrollBar_ = false;
}

// The scroll bar and the picture follow the model.
void TRxPane::showChanges(bool scrollBar) {
    if (scrollBar)
        syncScrollBar();
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

// While the pane follows the end its scroll bar is only brought up to date
// at the trim; once the pointer reaches for it, it must reach everything.
bool TRxPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == verticalScrollBar() && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));  // over the bar as over the text
        return true;
    }
    if (watched == verticalScrollBar() && model_.following() &&
        (event->type() == QEvent::Enter || event->type() == QEvent::MouseButtonPress))
        syncScrollBar();
    return QAbstractScrollArea::eventFilter(watched, event);
}

// The model scrolls, not the scroll bar: with all of the text in view the
// bar cannot move, and the view must still hold.
void TRxPane::wheelEvent(QWheelEvent* event) {
    model_.wheel(event->angleDelta().y(), QApplication::wheelScrollLines());
    showChanges();
    event->accept();
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

QRect TRxPane::cellRect(RxPaneModel::Pos pos) const {
    const std::optional<RxPaneModel::Cell> cell = model_.cellOf(pos);
    if (!cell)
        return {};
    const int column = std::min(cell->column, model_.columns());
    return QRect(kMargin + int(std::lround(column * cellWidth_)), kMargin + cell->row * lineHeight_,
                 int(std::lround(cellWidth_)), lineHeight_);
}

RxPaneModel::Pos TRxPane::positionAt(QPoint point) const {
    return model_.positionAtPoint(point.x() - kMargin, point.y() - kMargin, cellWidth_, lineHeight_);
}

void TRxPane::scrollToShow(RxPaneModel::Pos pos) {
    if (model_.cellOf(pos))
        return;
    model_.scrollTo(model_.lineOf(pos));
    showChanges();
}

QRect TRxPane::caretRect() const {
    const std::optional<RxPaneModel::Cell> cell = model_.caretCell();
    if (!cell)
        return {};
    // After blanks that hang past the edge the caret stays at the edge.
    const int column = std::min(cell->column, model_.columns());
    return QRect(kMargin + int(std::lround(column * cellWidth_)), kMargin + cell->row * lineHeight_, 1, lineHeight_);
}

void TRxPane::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette& pal = palette();
    const double ascent = QFontMetricsF(font()).ascent();
    // One row more than whole rows fit: the last one shows in part.
    for (int row = 0; row <= model_.rows(); ++row) {
        const double y = kMargin + row * lineHeight_;
        if (y + lineHeight_ <= event->rect().top() || y >= event->rect().bottom() + 1)
            continue;
        const std::string_view line = model_.rowText(row);
        painter.setPen(pal.color(QPalette::Text));
        drawLine(painter, QPointF(kMargin, y + ascent), line);
        const RxPaneModel::Columns sel = model_.rowSelection(row);
        if (sel.first == sel.last)
            continue;
        const QRectF band(kMargin + sel.first * cellWidth_, y, (sel.last - sel.first) * cellWidth_, lineHeight_);
        painter.fillRect(band, pal.color(QPalette::Highlight));
        painter.setPen(pal.color(QPalette::HighlightedText));
        drawLine(painter, QPointF(band.left(), y + ascent),
                 line.substr(std::size_t(sel.first), std::size_t(sel.last - sel.first)));
    }
    shownCaret_ = hasFocus() && caretOn_ ? caretRect() : QRect();
    if (!shownCaret_.isNull())
        painter.fillRect(shownCaret_, pal.color(QPalette::Text));
}

void TRxPane::restartBlink() {
    caretOn_ = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        blink_.start(flash / 2, this);
    else
        blink_.stop();
}

void TRxPane::timerEvent(QTimerEvent* event) {
    if (event->timerId() != blink_.timerId())
        return QAbstractScrollArea::timerEvent(event);
    caretOn_ = !caretOn_;
    // Where it was drawn (the picture may have scrolled since) and where it is.
    viewport()->update(shownCaret_);
    viewport()->update(caretRect());
}

void TRxPane::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    // From the keyboard the caret goes to the end, where the bytes come in.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        model_.caretToEnd();
    restartBlink();
    showChanges();
    viewport()->update(caretRect());
    tellReaders(true);
}

void TRxPane::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    blink_.stop();
    caretOn_ = false;
    viewport()->update(shownCaret_);
}

void TRxPane::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    model_.press(event->position().x() - kMargin, event->position().y() - kMargin, cellWidth_, lineHeight_,
                 event->modifiers() & Qt::ShiftModifier);
    restartBlink();
    showChanges();
    tellReaders(true);
}

void TRxPane::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    model_.drag(event->position().x() - kMargin, event->position().y() - kMargin, cellWidth_, lineHeight_,
                viewport()->height() - kMargin);
    showChanges();
    tellReaders(true);
}

void TRxPane::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && model_.hasSelection() && QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(Latin1(model_.selectedText()), QClipboard::Selection);
}

// The editing keys and typed text as the rule has them; false for keys the
// pane leaves to the window.
bool TRxPane::editKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    PaneEditResult result = PaneEditResult::NotMine;
    if (const auto key = EditKeyOf(event->key()); key && !(mods & (Qt::AltModifier | Qt::MetaModifier)))
        result = RxPaneEditKey(model_, *key, mods & Qt::ControlModifier, mods & Qt::ShiftModifier);
    if (result == PaneEditResult::NotMine && !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        result = RxPaneType(model_, event->text().toStdU16String());
    return act(result);
}

// Does what an edit's answer asks of the window; false when the pane left it.
bool TRxPane::act(PaneEditResult result) {
    switch (result) {
    case PaneEditResult::NotMine: return false;
    case PaneEditResult::Copy: copy(); break;
    case PaneEditResult::Cut: cut(); break;
    case PaneEditResult::Paste: paste(); break;
    case PaneEditResult::Beep: QApplication::beep(); break;
    case PaneEditResult::Done: break;
    }
    return true;
}

void TRxPane::keyPressEvent(QKeyEvent* event) {
    if (!editKey(event))
        return event->ignore();  // the window's shortcuts
    restartBlink();
    showChanges();
    tellReaders(true);
}

void TRxPane::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    for (const PaneMenuItem& item : RxPaneMenu(model_, !QApplication::clipboard()->text().isEmpty())) {
        if (item.separatorBefore)
            menu.addSeparator();
        QAction* action = menu.addAction(QString::fromLatin1(item.label), this, [this, command = item.command] {
            act(RxPaneMenuChosen(model_, command));
            showChanges();
            tellReaders(true);
        });
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_A + (item.ctrlLetter - 'A'))));
        action->setEnabled(item.enabled);
    }
    menu.exec(event->globalPos());
}

// ---- Assistive technology -----------------------------------------------------

// Tells a reader what changed since it was last told, as one run removed and
// one inserted (received text at the end, the trim's lines at the start, an
// edit where it was made); with operatorAction, where the caret and the
// selection went too. Nothing is kept or compared while no reader listens.
void TRxPane::tellReaders(bool operatorAction) {
    if (!QAccessible::isActive()) {
        told_.reset();  // a reader that comes later reads the text as it is then
        return;
    }
    const std::string& now = model_.text();
    if (!told_) {
        told_ = now;
    } else if (*told_ != now) {
        const std::string& was = *told_;
        const std::size_t head =
            std::size_t(std::mismatch(was.begin(), was.end(), now.begin(), now.end()).first - was.begin());
        const std::size_t most = std::min(was.size(), now.size()) - head;
        const std::size_t tail = std::size_t(
            std::mismatch(was.rbegin(), was.rbegin() + std::ptrdiff_t(most), now.rbegin()).first - was.rbegin());
        if (was.size() > head + tail) {
            QAccessibleTextRemoveEvent removed(this, int(head), Latin1(was.substr(head, was.size() - head - tail)));
            QAccessible::updateAccessibility(&removed);
        }
        if (now.size() > head + tail) {
            QAccessibleTextInsertEvent inserted(this, int(head), Latin1(now.substr(head, now.size() - head - tail)));
            QAccessible::updateAccessibility(&inserted);
        }
        told_ = now;
    }
    if (!operatorAction)
        return;
    if (model_.caret() != toldCaret_) {
        toldCaret_ = model_.caret();
        QAccessibleTextCursorEvent moved(this, int(toldCaret_));
        QAccessible::updateAccessibility(&moved);
    }
    const std::pair<RxPaneModel::Pos, RxPaneModel::Pos> selection = std::minmax(model_.anchor(), model_.caret());
    if (selection != toldSelection_) {
        toldSelection_ = selection;
        QAccessibleTextSelectionEvent selected(this, int(selection.first), int(selection.second));
        QAccessible::updateAccessibility(&selected);
    }
}

}  // namespace kestrel
