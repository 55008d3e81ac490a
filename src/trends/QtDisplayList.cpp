// A plot display list drawn with QPainter (see QtDisplayList.h).

#include "trends/QtDisplayList.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <vector>

namespace kestrel {
namespace {

QColor colorOf(plot::Rgb c) { return QColor(c.r, c.g, c.b); }

QPen penOf(const plot::Item& i) {
    // A one-pixel line as a cosmetic pen: the raster engine's fast path.
    QPen pen(colorOf(i.color), i.width <= 1 ? 0 : i.width);
    if (i.dashed)
        pen.setStyle(Qt::DashLine);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

}  // namespace

void DrawDisplayList(QPainter& p, const plot::DisplayList& list, const plot::RectF& clip) {
    using plot::Op;
    std::vector<QPointF> points;
    QFont font = p.font();
    for (const plot::Item& i : list.items) {
        if (!list.mayShow(i, clip))
            continue;
        const QRectF r(i.rect.left, i.rect.top, i.rect.width, i.rect.height);
        // Lines and rectangles sit on whole pixels and are drawn unsmoothed
        // (a year of beacons is thousands of line segments, drawn at every
        // live beacon); shapes and text are smoothed.
        p.setRenderHint(QPainter::Antialiasing, i.op == Op::Polygon || i.op == Op::Marker);
        switch (i.op) {
        case Op::FillRect: p.fillRect(r, colorOf(i.fill)); break;
        case Op::FrameRect:
            p.setPen(penOf(i));
            p.setBrush(Qt::NoBrush);
            p.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
            break;
        case Op::Line:
            p.setPen(penOf(i));
            p.drawLine(QPointF(list.points[i.first].x, list.points[i.first].y),
                       QPointF(list.points[i.first + 1].x, list.points[i.first + 1].y));
            break;
        case Op::Polyline: {
            points.clear();
            const auto [from, to] = list.pointsIn(i, clip);
            for (std::uint32_t k = from; k < to; ++k)
                points.emplace_back(list.points[k].x, list.points[k].y);
            QPen pen = penOf(i);
            pen.setJoinStyle(Qt::RoundJoin);
            p.setPen(pen);
            p.drawPolyline(points.data(), int(points.size()));
            break;
        }
        case Op::Polygon: {
            QPainterPath path;
            path.setFillRule(Qt::OddEvenFill);
            std::uint32_t at = i.pointsFirst;
            for (std::uint32_t ring = i.first; ring < i.first + i.count; ++ring) {
                QPolygonF poly;
                for (std::uint32_t k = 0; k < list.rings[ring]; ++k, ++at)
                    poly << QPointF(list.points[at].x, list.points[at].y);
                path.addPolygon(poly);
                path.closeSubpath();
            }
            p.setPen(QPen(colorOf(i.color), 1));
            p.setBrush(colorOf(i.fill));
            p.drawPath(path);
            break;
        }
        case Op::Text: {
            font.setPixelSize(i.fontPx);
            font.setBold(i.bold);
            p.setFont(font);
            p.setPen(colorOf(i.color));
            const QString text = QString::fromUtf8(list.texts[i.text]);
            const QFontMetricsF m(font);
            const double w = m.horizontalAdvance(text);
            double x = i.rect.left, y = i.rect.top;
            x -= i.hAlign == plot::HAlign::Center ? w / 2 : i.hAlign == plot::HAlign::Right ? w : 0;
            y += i.vAlign == plot::VAlign::Top      ? m.ascent()
                 : i.vAlign == plot::VAlign::Middle ? (m.ascent() - m.descent()) / 2
                                                    : -m.descent();
            p.drawText(QPointF(x, y), text);
            break;
        }
        case Op::Marker: {
            p.setPen(penOf(i));
            p.setBrush(colorOf(i.fill));
            const double s = i.rect.width / 2;
            const QPointF c(i.rect.left, i.rect.top);
            if (i.marker == plot::Marker::Circle) {
                p.drawEllipse(c, s, s);
            } else {
                const QPointF tri[] = {c + QPointF(0, -s), c + QPointF(s, s * 0.8), c + QPointF(-s, s * 0.8)};
                p.drawPolygon(tri, 3);
            }
            break;
        }
        }
    }
}

}  // namespace kestrel
