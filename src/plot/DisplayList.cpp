// The display list's builders (see DisplayList.h).

#include "plot/DisplayList.h"

#include <algorithm>

namespace kestrel::plot {

void DisplayList::clear() {
    items.clear();
    points.clear();
    rings.clear();
    texts.clear();
}

void DisplayList::fillRect(const RectF& r, Rgb color) {
    Item i;
    i.op = Op::FillRect;
    i.color = i.fill = color;
    i.rect = r;
    items.push_back(i);
}

void DisplayList::frameRect(const RectF& r, Rgb color, float width) {
    Item i;
    i.op = Op::FrameRect;
    i.color = color;
    i.width = width;
    i.rect = r;
    items.push_back(i);
}

void DisplayList::line(float x0, float y0, float x1, float y1, Rgb color, float width, bool dashed) {
    Item i;
    i.op = Op::Line;
    i.color = color;
    i.width = width;
    i.dashed = dashed;
    i.first = static_cast<std::uint32_t>(points.size());
    i.count = 2;
    points.push_back({x0, y0});
    points.push_back({x1, y1});
    items.push_back(i);
}

void DisplayList::beginPolyline(Rgb color, float width, bool ordered) {
    Item i;
    i.op = Op::Polyline;
    i.ordered = ordered;
    i.color = color;
    i.width = width;
    i.first = static_cast<std::uint32_t>(points.size());
    items.push_back(i);
}

void DisplayList::endPolyline() {
    Item& i = items.back();
    i.count = static_cast<std::uint32_t>(points.size()) - i.first;
    if (i.count == 1) {
        const PointF p = points.back();
        points.back().x -= 1.5f;
        points.push_back({p.x + 1.5f, p.y});
        i.count = 2;
    } else if (i.count == 0) {
        items.pop_back();
    }
}

void DisplayList::beginPolygon(Rgb fill, Rgb outline) {
    Item i;
    i.op = Op::Polygon;
    i.color = outline;
    i.fill = fill;
    i.first = static_cast<std::uint32_t>(rings.size());
    i.pointsFirst = static_cast<std::uint32_t>(points.size());
    items.push_back(i);
}

void DisplayList::addRing(const PointF* ring, std::size_t count) {
    if (count < 3)
        return;
    points.insert(points.end(), ring, ring + count);
    rings.push_back(static_cast<std::uint32_t>(count));
}

void DisplayList::endPolygon() {
    Item& i = items.back();
    i.count = static_cast<std::uint32_t>(rings.size()) - i.first;
    if (i.count == 0)
        items.pop_back();
}

void DisplayList::text(float x, float y, std::string_view text, HAlign h, VAlign v, Rgb color, int fontPx, bool bold) {
    if (text.empty())
        return;
    Item i;
    i.op = Op::Text;
    i.color = color;
    i.rect = {x, y, 0, 0};
    i.text = static_cast<std::uint32_t>(texts.size());
    i.fontPx = static_cast<std::uint8_t>(fontPx);
    i.bold = bold;
    i.hAlign = h;
    i.vAlign = v;
    texts.emplace_back(text);
    items.push_back(i);
}

void DisplayList::marker(float x, float y, Marker shape, float size, Rgb outline, Rgb fill) {
    Item i;
    i.op = Op::Marker;
    i.color = outline;
    i.fill = fill;
    i.width = 1.5f;
    i.marker = shape;
    i.rect = {x, y, size, size};
    items.push_back(i);
}

bool DisplayList::mayShow(const Item& i, const RectF& clip) const {
    const auto overlaps = [&clip](float l, float t, float r, float b) {
        return r >= clip.left - 2 && l <= clip.right() + 2 && b >= clip.top - 2 && t <= clip.bottom() + 2;
    };
    switch (i.op) {
    case Op::FillRect:
    case Op::FrameRect: return overlaps(i.rect.left, i.rect.top, i.rect.right(), i.rect.bottom());
    case Op::Line: {
        const PointF a = points[i.first], b = points[i.first + 1];
        return overlaps(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y));
    }
    case Op::Polyline: {
        if (!i.ordered)
            return true;
        const auto [from, to] = pointsIn(i, clip);
        return to > from;
    }
    case Op::Text: {
        // Not measured here: as wide as a font's widest characters could make it.
        const float w = float(texts[i.text].size()) * i.fontPx, h = float(i.fontPx) * 2;
        return overlaps(i.rect.left - w, i.rect.top - h, i.rect.left + w, i.rect.top + h);
    }
    case Op::Marker: {
        const float s = i.rect.width;
        return overlaps(i.rect.left - s, i.rect.top - s, i.rect.left + s, i.rect.top + s);
    }
    case Op::Polygon: return true;
    }
    return true;
}

std::pair<std::uint32_t, std::uint32_t> DisplayList::pointsIn(const Item& i, const RectF& clip) const {
    if (!i.ordered)
        return {i.first, i.first + i.count};
    const auto begin = points.begin() + i.first, end = begin + i.count;
    // One point either side, for the segments that cross into the clip.
    auto from = std::lower_bound(begin, end, clip.left - 2, [](const PointF& p, float x) { return p.x < x; });
    auto to = std::upper_bound(from, end, clip.right() + 2, [](float x, const PointF& p) { return x < p.x; });
    if (from != begin)
        --from;
    if (to != end)
        ++to;
    if (to - from < 2)
        return {0, 0};
    return {std::uint32_t(from - points.begin()), std::uint32_t(to - points.begin())};
}

std::size_t DisplayList::count(Op op) const {
    std::size_t n = 0;
    for (const Item& i : items)
        n += i.op == op;
    return n;
}

std::vector<std::string_view> DisplayList::shownTexts() const {
    std::vector<std::string_view> out;
    for (const Item& i : items)
        if (i.op == Op::Text)
            out.push_back(texts[i.text]);
    return out;
}

}  // namespace kestrel::plot
