// A plot display list drawn with GDI (see Win32DisplayList.h).

#include "win32/Win32DisplayList.h"

#include "win32/Win32Util.h"

#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace kestrel {
namespace {

COLORREF colorOf(plot::Rgb c) { return RGB(c.r, c.g, c.b); }
int px(float v) { return int(std::lround(v)); }

// The pens, brushes and fonts of one drawing, made once each and selected
// as the items need them.
class GdiObjects {
public:
    explicit GdiObjects(HDC dc) : dc_(dc) {
        oldPen_ = SelectObject(dc, GetStockObject(NULL_PEN));
        oldBrush_ = SelectObject(dc, GetStockObject(NULL_BRUSH));
        oldFont_ = GetCurrentObject(dc, OBJ_FONT);
    }
    ~GdiObjects() {
        SelectObject(dc_, oldPen_);
        SelectObject(dc_, oldBrush_);
        SelectObject(dc_, oldFont_);
        for (auto& [key, pen] : pens_)
            DeleteObject(pen);
        for (auto& [key, brush] : brushes_)
            DeleteObject(brush);
        for (auto& [key, font] : fonts_)
            DeleteObject(font);
    }
    void pen(plot::Rgb c, float width, bool dashed) {
        const auto key = std::make_tuple(colorOf(c), px(width), dashed);
        HPEN& p = pens_[key];
        if (!p)
            p = dashed ? CreatePen(PS_DOT, 1, colorOf(c)) : CreatePen(PS_SOLID, std::max(1, px(width)), colorOf(c));
        SelectObject(dc_, p);
    }
    void noBrush() { SelectObject(dc_, GetStockObject(NULL_BRUSH)); }
    HBRUSH brush(plot::Rgb c) {
        HBRUSH& b = brushes_[colorOf(c)];
        if (!b)
            b = CreateSolidBrush(colorOf(c));
        SelectObject(dc_, b);
        return b;
    }
    void font(int pixels, bool bold) {
        HFONT& f = fonts_[{pixels, bold}];
        if (!f)
            f = CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_SWISS,
                            L"Tahoma");
        SelectObject(dc_, f);
    }

private:
    HDC dc_;
    HGDIOBJ oldPen_, oldBrush_, oldFont_;
    std::map<std::tuple<COLORREF, int, bool>, HPEN> pens_;
    std::map<COLORREF, HBRUSH> brushes_;
    std::map<std::pair<int, bool>, HFONT> fonts_;
};

}  // namespace

void DrawDisplayList(HDC dc, const plot::DisplayList& list, const plot::RectF& clip) {
    using plot::Op;
    GdiObjects gdi(dc);
    SetBkMode(dc, TRANSPARENT);
    SetPolyFillMode(dc, ALTERNATE);
    std::vector<POINT> points;
    std::vector<INT> counts;
    for (const plot::Item& i : list.items) {
        if (!list.mayShow(i, clip))
            continue;
        const RECT r{px(i.rect.left), px(i.rect.top), px(i.rect.right()), px(i.rect.bottom())};
        switch (i.op) {
        case Op::FillRect: FillRect(dc, &r, gdi.brush(i.fill)); break;
        case Op::FrameRect:
            gdi.pen(i.color, i.width, false);
            gdi.noBrush();
            Rectangle(dc, r.left, r.top, r.right, r.bottom);
            break;
        case Op::Line:
        case Op::Polyline: {
            points.clear();
            const auto [from, to] =
                i.op == Op::Polyline ? list.pointsIn(i, clip) : std::pair(i.first, i.first + i.count);
            for (std::uint32_t k = from; k < to; ++k)
                points.push_back({px(list.points[k].x - 0.5f), px(list.points[k].y - 0.5f)});
            gdi.pen(i.color, i.width, i.dashed);
            Polyline(dc, points.data(), int(points.size()));
            break;
        }
        case Op::Polygon: {
            points.clear();
            counts.clear();
            std::uint32_t at = i.pointsFirst;
            for (std::uint32_t ring = i.first; ring < i.first + i.count; ++ring) {
                counts.push_back(INT(list.rings[ring]));
                for (std::uint32_t k = 0; k < list.rings[ring]; ++k, ++at)
                    points.push_back({px(list.points[at].x), px(list.points[at].y)});
            }
            gdi.pen(i.color, 1, false);
            gdi.brush(i.fill);
            PolyPolygon(dc, points.data(), counts.data(), int(counts.size()));
            break;
        }
        case Op::Text: {
            gdi.font(i.fontPx, i.bold);
            SetTextColor(dc, colorOf(i.color));
            UINT align = i.hAlign == plot::HAlign::Center  ? TA_CENTER
                         : i.hAlign == plot::HAlign::Right ? TA_RIGHT
                                                           : TA_LEFT;
            int y = px(i.rect.top);
            if (i.vAlign == plot::VAlign::Top) {
                align |= TA_TOP;
            } else if (i.vAlign == plot::VAlign::Bottom) {
                align |= TA_BOTTOM;
            } else {
                // The middle of the capitals on the anchor, as the Qt window has it.
                TEXTMETRICW tm{};
                GetTextMetricsW(dc, &tm);
                align |= TA_BASELINE;
                y += (tm.tmAscent - tm.tmDescent) / 2;
            }
            SetTextAlign(dc, align);
            const std::wstring text = toUtf16(list.texts[i.text]);
            TextOutW(dc, px(i.rect.left), y, text.c_str(), int(text.size()));
            break;
        }
        case Op::Marker: {
            gdi.pen(i.color, i.width, false);
            gdi.brush(i.fill);
            const float s = i.rect.width / 2;
            const float x = i.rect.left, y = i.rect.top;
            if (i.marker == plot::Marker::Circle) {
                Ellipse(dc, px(x - s), px(y - s), px(x + s) + 1, px(y + s) + 1);
            } else {
                const POINT tri[] = {{px(x), px(y - s)}, {px(x + s), px(y + s * 0.8f)}, {px(x - s), px(y + s * 0.8f)}};
                Polygon(dc, tri, 3);
            }
            break;
        }
        }
    }
}

}  // namespace kestrel
