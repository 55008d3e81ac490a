// The straight and the folded time axis (see TimeAxis.h).

#include "plot/TimeAxis.h"

#include <algorithm>
#include <cmath>

namespace kestrel::plot {

TimeAxis TimeAxis::real(TimeSpan span, double x0, double width) {
    TimeAxis a;
    if (span.t1 <= span.t0)
        span.t1 = span.t0 + 1;
    a.segments_.push_back({span.t0, span.t1, x0, x0 + width});
    return a;
}

TimeAxis TimeAxis::folded(const std::vector<TimeSpan>& spans, double x0, double width, double breakWidth) {
    TimeAxis a;
    if (spans.empty())
        return a;
    const double breaks = double(spans.size() - 1);
    a.breakWidth_ = breaks > 0 ? std::min(breakWidth, width / 3 / breaks) : 0;
    double total = 0;
    for (const TimeSpan& s : spans)
        total += double(std::max<std::int64_t>(1, s.t1 - s.t0));
    const double scale = (width - breaks * a.breakWidth_) / total;
    double x = x0;
    for (const TimeSpan& s : spans) {
        const std::int64_t t1 = std::max(s.t1, s.t0 + 1);
        const double w = double(t1 - s.t0) * scale;
        a.segments_.push_back({s.t0, t1, x, x + w});
        x += w + a.breakWidth_;
    }
    return a;
}

int TimeAxis::segmentOf(std::int64_t t) const {
    if (segments_.empty())
        return -1;
    auto it = std::upper_bound(segments_.begin(), segments_.end(), t,
                               [](std::int64_t v, const AxisSegment& s) { return v < s.t0; });
    if (it == segments_.begin())
        return 0;
    const int before = int(it - segments_.begin()) - 1;
    if (t <= segments_[std::size_t(before)].t1 || it == segments_.end())
        return before;
    return t - segments_[std::size_t(before)].t1 <= it->t0 - t ? before : before + 1;
}

double TimeAxis::x(std::int64_t t) const {
    const int i = segmentOf(t);
    if (i < 0)
        return 0;
    const AxisSegment& s = segments_[std::size_t(i)];
    const bool inside = t >= s.t0 && t <= s.t1;
    const bool outerEdge = (i == 0 && t < s.t0) || (std::size_t(i) + 1 == segments_.size() && t > s.t1);
    if (!inside && !outerEdge)  // in a break: its middle
        return t < s.t0 ? s.x0 - breakWidth_ / 2 : s.x1 + breakWidth_ / 2;
    return s.x0 + double(t - s.t0) * (s.x1 - s.x0) / double(s.t1 - s.t0);
}

std::int64_t TimeAxis::timeAt(double x) const {
    if (segments_.empty())
        return 0;
    auto it = std::upper_bound(segments_.begin(), segments_.end(), x,
                               [](double v, const AxisSegment& s) { return v < s.x0; });
    const AxisSegment* s = it == segments_.begin() ? &segments_.front() : &*(it - 1);
    if (x > s->x1 && it != segments_.end() && it != segments_.begin())
        return x - s->x1 <= it->x0 - x ? s->t1 : it->t0;
    if (s->x1 <= s->x0)
        return s->t0;
    return s->t0 + std::llround((x - s->x0) * double(s->t1 - s->t0) / (s->x1 - s->x0));
}

}  // namespace kestrel::plot
