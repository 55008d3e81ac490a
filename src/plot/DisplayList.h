#pragma once
// What a plot looks like, as a list of shapes in pixel coordinates that a
// toolkit only draws in order (QPainter on Linux, GDI on Windows): filled and
// framed rectangles, lines, polylines, filled polygons, text anchored at a
// point, and markers. Every decision about where things go is taken before
// the list is made, so that both programs show the same picture.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::plot {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct PointF {
    float x = 0, y = 0;
    friend bool operator==(const PointF&, const PointF&) = default;
};

struct RectF {
    float left = 0, top = 0, width = 0, height = 0;
    float right() const { return left + width; }
    float bottom() const { return top + height; }
    bool contains(float x, float y) const { return x >= left && x < right() && y >= top && y < bottom(); }
};

enum class Op : std::uint8_t { FillRect, FrameRect, Line, Polyline, Polygon, Text, Marker };
enum class HAlign : std::uint8_t { Left, Center, Right };
enum class VAlign : std::uint8_t { Top, Middle, Bottom };
enum class Marker : std::uint8_t { Circle, Triangle };

struct Item {
    Op op = Op::FillRect;
    Rgb color;        // the pen, or the text's colour
    Rgb fill;         // Polygon, Marker: the inside
    float width = 1;  // the pen's width in pixels
    bool dashed = false;
    bool ordered = false;  // Polyline: its points go left to right (a plot's series)
    RectF rect;            // FillRect, FrameRect; Text and Marker: left/top is the anchor, width the marker's size
    // Line, Polyline: points[first, first + count). Polygon: rings[first,
    // first + count), each ring a count of points taken in turn from
    // points[pointsFirst...]; drawn with the even-odd rule, so a ring inside
    // another is a hole.
    std::uint32_t first = 0, count = 0, pointsFirst = 0;
    std::uint32_t text = 0;  // Text: texts[text], UTF-8
    std::uint8_t fontPx = 11;
    bool bold = false;
    HAlign hAlign = HAlign::Left;
    VAlign vAlign = VAlign::Top;
    Marker marker = Marker::Circle;
};

class DisplayList {
public:
    int width = 0, height = 0;  // of the canvas
    std::vector<Item> items;
    std::vector<PointF> points;
    std::vector<std::uint32_t> rings;
    std::vector<std::string> texts;

    void clear();

    void fillRect(const RectF& r, Rgb color);
    void frameRect(const RectF& r, Rgb color, float width = 1);
    void line(float x0, float y0, float x1, float y1, Rgb color, float width = 1, bool dashed = false);
    // A polyline is opened, its points added, and closed; one of fewer than
    // two points is dropped when it is closed (a single point is drawn as a
    // short dash so that a lone beacon still shows).
    void beginPolyline(Rgb color, float width = 1, bool ordered = false);
    void addPoint(float x, float y) { points.push_back({x, y}); }
    void endPolyline();
    // Filled polygons: each ring a run of points.
    void beginPolygon(Rgb fill, Rgb outline);
    void addRing(const PointF* ring, std::size_t count);
    void endPolygon();
    void text(float x, float y, std::string_view text, HAlign h, VAlign v, Rgb color, int fontPx = 11,
              bool bold = false);
    void marker(float x, float y, Marker shape, float size, Rgb outline, Rgb fill);

    // Whether an item may show inside clip (a toolkit repainting part of the
    // canvas leaves the others out); for an ordered polyline, the run of its
    // points [from, to) that does.
    bool mayShow(const Item& item, const RectF& clip) const;
    std::pair<std::uint32_t, std::uint32_t> pointsIn(const Item& polyline, const RectF& clip) const;

    // How many items of a kind the list holds, and the texts in drawing order.
    std::size_t count(Op op) const;
    std::vector<std::string_view> shownTexts() const;
};

}  // namespace kestrel::plot
