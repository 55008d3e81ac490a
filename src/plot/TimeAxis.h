#pragma once
// The time axis of the trend plots: time to pixels and back. In real time it
// is one straight scale; folded, each pass gets a segment of the width in
// proportion to how long it lasted and the hours between passes shrink to a
// narrow marked break, so that a pass's shape can be seen.

#include <cstdint>
#include <vector>

namespace kestrel::plot {

struct AxisSegment {
    std::int64_t t0 = 0, t1 = 0;  // t0 < t1
    double x0 = 0, x1 = 0;
};

struct TimeSpan {
    std::int64_t t0 = 0, t1 = 0;
};

class TimeAxis {
public:
    // Breaks narrower than this are not marked.
    static constexpr double kMarkedBreak = 4;

    TimeAxis() = default;
    // One straight scale from t0 to t1 over [x0, x0 + width).
    static TimeAxis real(TimeSpan span, double x0, double width);
    // The spans side by side in time order, a break of breakWidth pixels
    // between neighbours (narrower when the breaks would take more than a
    // third of the width).
    static TimeAxis folded(const std::vector<TimeSpan>& spans, double x0, double width, double breakWidth);

    // The pixel of time t: inside a segment on its scale; in a break, at the
    // break's middle; before the first or after the last, on the nearest
    // segment's scale.
    double x(std::int64_t t) const;
    // The time at pixel x, the inverse of x() inside a segment; in a break,
    // the time of the nearer edge.
    std::int64_t timeAt(double x) const;
    // The segment that holds time t (or the nearest), -1 without segments.
    int segmentOf(std::int64_t t) const;

    const std::vector<AxisSegment>& segments() const { return segments_; }
    double breakWidth() const { return breakWidth_; }
    bool empty() const { return segments_.empty(); }
    std::int64_t first() const { return segments_.front().t0; }
    std::int64_t last() const { return segments_.back().t1; }

private:
    std::vector<AxisSegment> segments_;
    double breakWidth_ = 0;
};

}  // namespace kestrel::plot
