#pragma once
// A receive pane on Qt: draws the rows in view of its RxPaneModel with the
// pane's fixed-pitch font, a blinking caret while it has the focus, and maps
// the keyboard and the mouse to the model: typing, Backspace and Delete, the
// cursor keys (with Shift to select), cut, copy and paste (keys or the context
// menu). What the pane holds, how it wraps and what the trim cuts is the
// model's; nothing is laid out.

#include "station/RxPaneKeys.h"
#include "station/RxPaneModel.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QGlyphRun>
#include <QRawFont>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kestrel {

class TRxPane : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TRxPane(QWidget* parent = nullptr);
    // The panes' font as designed: the first of its faces the system has,
    // its advances hinted to whole pixels as Windows hints them, so that a
    // cell is as wide on both programs.
    static QFont designFont();

    // Text (Latin-1, '\n' line breaks) added at the end.
    void appendText(std::string_view text);
    // Deletes first displayed lines until at most maxLines remain.
    void trimToLines(int maxLines);
    void clear();
    void setPlainText(std::string_view text);

    const RxPaneModel& model() const { return model_; }
    QString toPlainText() const;
    // Displayed (wrapped) lines; an empty last line does not count.
    int displayedLineCount() const { return model_.countedLines(); }
    void copy() const;
    void cut();
    void paste();
    void selectAll();

    // For assistive technology (TRxPaneAccessible): the operator's editing
    // as a reader asks for it, and where text shows in the viewport.
    void select(RxPaneModel::Pos anchor, RxPaneModel::Pos caret);
    // Latin-1 in place of the selection, a character beyond it as "?", as pasted.
    void replaceSelection(const QString& text);
    QRect cellRect(RxPaneModel::Pos pos) const;  // empty when not in view
    RxPaneModel::Pos positionAt(QPoint point) const;
    void scrollToShow(RxPaneModel::Pos pos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool editKey(QKeyEvent* event);
    bool act(PaneEditResult result);
    void fitToViewport();
    void showChanges(bool scrollBar = true);
    void syncScrollBar();
    void restartBlink();
    QRect caretRect() const;
    void tellReaders(bool operatorAction);

    void drawLine(QPainter& painter, QPointF at, std::string_view line);

    RxPaneModel model_;
    // The font's glyph for each byte as the pane shows it: lines are drawn
    // as glyph runs on the cell grid, with no text shaping per paint. A
    // glyph the font lacks (0) sends its line through the toolkit's text
    // drawing, which finds a fallback font.
    QRawFont rawFont_;
    std::array<quint32, 256> glyphs_{};
    QGlyphRun run_;
    QList<quint32> runGlyphs_;
    QList<QPointF> runPositions_;
    double cellWidth_ = 8;
    int lineHeight_ = 16;
    bool syncingScrollBar_ = false;
    QBasicTimer blink_;
    bool caretOn_ = false;
    QRect shownCaret_;
    // What a reader was last told: the text, the caret and the selection.
    std::optional<std::string> told_;
    RxPaneModel::Pos toldCaret_ = 0;
    std::pair<RxPaneModel::Pos, RxPaneModel::Pos> toldSelection_{0, 0};
};

}  // namespace kestrel
