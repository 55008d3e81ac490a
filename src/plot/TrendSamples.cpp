// The trend plot's fields, charts and samples, with passes and value ranges.

#include "plot/TrendSamples.h"

#include "telemetry/TimeIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel::plot {

const std::array<TrendSeriesInfo, kTrendSeriesCount> kTrendSeries{{
    {"Vbat", 0, "V", 3},
    {"Iin", 1, "mA", 0},
    {"Isys", 1, "mA", 0},
    {"Isun1", 1, "mA", 0},
    {"Isun2", 1, "mA", 0},
    {"Isun3", 1, "mA", 0},
    {"Tcpu", 2, "\u00b0C", 1},
    {"Tpsu", 2, "\u00b0C", 0},
    {"ToutMin", 2, "\u00b0C", 0},
    {"ToutMax", 2, "\u00b0C", 0},
    {"Bx", 3, "uT", 1},
    {"By", 3, "uT", 1},
    {"Bz", 3, "uT", 1},
}};
const std::array<const char*, kTrendChartCount> kTrendChartTitles{"Battery voltage [V]", "Currents [mA]",
                                                                  "Temperatures [\u00b0C]", "Magnetic field [uT]"};

bool trendSampleOf(const BeaconLogEntry& e, TrendSample& s) {
    const SystemTime& u = e.utc;
    if (u.year < 1970 || u.month < 1 || u.month > 12 || u.day < 1 || u.day > 31 || u.hour > 23 || u.minute > 59 ||
        u.second > 60 || u.millisecond > 999)
        return false;
    s.t = utcMilliseconds(u);
    s.values = {float(e.vbat / 1000.0),
                float(e.iin),
                float(e.isys),
                float(e.isun[0]),
                float(e.isun[1]),
                float(e.isun[2]),
                float(e.tcpu),
                float(e.tpsu),
                float(e.toutMin),
                float(e.toutMax),
                e.bx,
                e.by,
                e.bz};
    s.gps = e.gpsOn == 1 && std::isfinite(e.latitude) && std::isfinite(e.longitude) && std::abs(e.latitude) <= 90 &&
            std::abs(e.longitude) <= 180;
    s.latitude = s.gps ? float(e.latitude) : 0;
    s.longitude = s.gps ? float(e.longitude) : 0;
    return true;
}

std::array<std::pair<double, double>, kTrendChartCount> TrendSamples::emptyRanges() {
    std::array<std::pair<double, double>, kTrendChartCount> r;
    r.fill({std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()});
    return r;
}

bool TrendSamples::add(const BeaconLogEntry& entry) {
    TrendSample s;
    if (!trendSampleOf(entry, s))
        return true;
    const bool inOrder = samples_.empty() || samples_.back().t <= s.t;
    samples_.push_back(s);
    widen(s);
    if (!inOrder || !sorted_) {
        sorted_ = false;
        return false;
    }
    const std::size_t n = samples_.size();
    // The gap is worked out again each time the samples double.
    if (gap_ == 0 || n >= 2 * gapAt_) {
        const std::int64_t gap = medianGap();
        gapAt_ = n;
        if (gap != gap_) {
            gap_ = gap;
            repass();
            return false;
        }
    }
    if (passes_.empty() || (gap_ > 0 && s.t - passes_.back().t1 > gap_)) {
        passes_.push_back({n - 1, n, s.t, s.t});
        return false;
    }
    passes_.back().end = n;
    passes_.back().t1 = s.t;
    return true;
}

void TrendSamples::settle() {
    if (sorted_)
        return;
    std::stable_sort(samples_.begin(), samples_.end(),
                     [](const TrendSample& a, const TrendSample& b) { return a.t < b.t; });
    sorted_ = true;
    gap_ = medianGap();
    gapAt_ = samples_.size();
    repass();
}

void TrendSamples::clear() {
    samples_.clear();
    samples_.shrink_to_fit();
    passes_.clear();
    gap_ = 0;
    gapAt_ = 0;
    sorted_ = true;
    ranges_ = emptyRanges();
}

std::int64_t TrendSamples::medianGap() const {
    std::vector<std::int64_t> gaps;
    gaps.reserve(samples_.size());
    for (std::size_t i = 1; i < samples_.size(); ++i)
        if (samples_[i].t > samples_[i - 1].t)
            gaps.push_back(samples_[i].t - samples_[i - 1].t);
    if (gaps.empty())
        return 0;
    // The median: a few long gaps between passes do not move it.
    auto mid = gaps.begin() + std::ptrdiff_t(gaps.size() / 2);
    std::nth_element(gaps.begin(), mid, gaps.end());
    return kBreakIntervals * *mid;
}

void TrendSamples::repass() {
    passes_.clear();
    for (std::size_t i = 0; i < samples_.size(); ++i) {
        const std::int64_t t = samples_[i].t;
        if (passes_.empty() || (gap_ > 0 && t - passes_.back().t1 > gap_))
            passes_.push_back({i, i + 1, t, t});
        else {
            passes_.back().end = i + 1;
            passes_.back().t1 = t;
        }
    }
}

std::size_t TrendSamples::lowerBound(std::int64_t t) const {
    return std::size_t(std::lower_bound(samples_.begin(), samples_.end(), t,
                                        [](const TrendSample& s, std::int64_t v) { return s.t < v; }) -
                       samples_.begin());
}

int TrendSamples::passAt(std::int64_t t) const {
    if (passes_.empty())
        return -1;
    auto it =
        std::upper_bound(passes_.begin(), passes_.end(), t, [](std::int64_t v, const Pass& p) { return v < p.t0; });
    if (it == passes_.begin())
        return 0;
    const int before = int(it - passes_.begin()) - 1;
    if (t <= passes_[std::size_t(before)].t1 || it == passes_.end())
        return before;
    return t - passes_[std::size_t(before)].t1 <= it->t0 - t ? before : before + 1;
}

std::pair<double, double> TrendSamples::range(int chart, std::size_t first, std::size_t end) const {
    auto r = emptyRanges()[0];
    for (std::size_t k = first; k < end && k < samples_.size(); ++k)
        for (int i = 0; i < kTrendSeriesCount; ++i) {
            const float v = samples_[k].values[std::size_t(i)];
            if (kTrendSeries[std::size_t(i)].chart != chart || !std::isfinite(v))
                continue;
            r.first = std::min(r.first, double(v));
            r.second = std::max(r.second, double(v));
        }
    return r;
}

void TrendSamples::widen(const TrendSample& s) {
    for (int i = 0; i < kTrendSeriesCount; ++i) {
        const float v = s.values[std::size_t(i)];
        if (!std::isfinite(v))
            continue;
        auto& [lo, hi] = ranges_[std::size_t(kTrendSeries[std::size_t(i)].chart)];
        lo = std::min(lo, double(v));
        hi = std::max(hi, double(v));
    }
}

}  // namespace kestrel::plot
