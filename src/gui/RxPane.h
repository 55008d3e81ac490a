#pragma once
// A receive pane on Qt: draws the lines in view of its RxPaneModel with the
// pane's fixed-pitch font, scrolls, and lets the operator select text with
// the mouse and copy it (Ctrl+C, or the context menu). What the pane holds,
// how it wraps and what the trim cuts is the model's; nothing is laid out.

#include "station/RxPaneModel.h"

#include <QAbstractScrollArea>
#include <QGlyphRun>
#include <QRawFont>

#include <array>

#include <string_view>

namespace kestrel {

class TRxPane : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TRxPane(QWidget* parent = nullptr);

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
    void selectAll();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void fitToViewport();
    void showChanges(bool scrollBar = true);
    RxPaneModel::Pos positionAt(QPointF point) const;

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
};

}  // namespace kestrel
