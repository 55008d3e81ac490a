// The trend plot's fields, charts and samples, with each chart's value range.

#include "telemetry/TrendSamples.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel {

const std::array<TrendSeriesInfo, kTrendSeriesCount> kTrendSeries{{
    {"Vbat", 0},  // V
    {"Iin", 1},
    {"Isys", 1},
    {"Isun1", 1},
    {"Isun2", 1},
    {"Isun3", 1},  // mA
    {"Tcpu", 2},
    {"Tpsu", 2},
    {"ToutMin", 2},
    {"ToutMax", 2},  // degrees Celsius
    {"Bx", 3},
    {"By", 3},
    {"Bz", 3},  // uT
}};
const std::array<const char*, kTrendChartCount> kTrendChartTitles{"Battery voltage [V]", "Currents [mA]",
                                                                  "Temperatures [\u00b0C]", "Magnetic field [uT]"};

namespace {

std::array<double, kTrendSeriesCount> valuesOf(const BeaconLogEntry& e) {
    return {e.vbat / 1000.0,   double(e.iin), double(e.isys), double(e.isun[0]), double(e.isun[1]),
            double(e.isun[2]), e.tcpu,        double(e.tpsu), double(e.toutMin), double(e.toutMax),
            double(e.bx),      double(e.by),  double(e.bz)};
}

}  // namespace

std::array<std::pair<double, double>, kTrendChartCount> TrendSamples::emptyRanges() {
    std::array<std::pair<double, double>, kTrendChartCount> r;
    r.fill({std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()});
    return r;
}

bool TrendSamples::add(std::int64_t x, const BeaconLogEntry& entry) {
    const bool inOrder = samples_.empty() || samples_.back().x <= x;
    samples_.push_back({x, valuesOf(entry)});
    widen(samples_.back());
    return inOrder;
}

void TrendSamples::sortByTime() {
    std::stable_sort(samples_.begin(), samples_.end(), [](const Sample& a, const Sample& b) { return a.x < b.x; });
}

std::int64_t TrendSamples::breakGap() const {
    std::vector<std::int64_t> gaps;
    gaps.reserve(samples_.size());
    for (std::size_t i = 1; i < samples_.size(); ++i)
        if (samples_[i].x > samples_[i - 1].x)
            gaps.push_back(samples_[i].x - samples_[i - 1].x);
    if (gaps.empty())
        return 0;
    // The median: a few long gaps between passes do not move it.
    auto mid = gaps.begin() + std::ptrdiff_t(gaps.size() / 2);
    std::nth_element(gaps.begin(), mid, gaps.end());
    return kBreakIntervals * *mid;
}

std::vector<std::size_t> TrendSamples::lineStarts() const {
    std::vector<std::size_t> starts;
    if (samples_.empty())
        return starts;
    starts.push_back(0);
    const std::int64_t gap = gap_ = breakGap();
    for (std::size_t i = 1; gap > 0 && i < samples_.size(); ++i)
        if (samples_[i].x - samples_[i - 1].x > gap)
            starts.push_back(i);
    return starts;
}

bool TrendSamples::lastStartsLine() {
    const std::size_t n = samples_.size();
    if (gap_ == 0 || (n & (n - 1)) == 0)
        gap_ = breakGap();
    return n > 1 && gap_ > 0 && samples_[n - 1].x - samples_[n - 2].x > gap_;
}

std::pair<std::int64_t, std::int64_t> TrendSamples::timeRange() const {
    if (samples_.empty())
        return {0, 0};
    const auto [lo, hi] = std::minmax_element(samples_.begin(), samples_.end(),
                                              [](const Sample& a, const Sample& b) { return a.x < b.x; });
    const std::int64_t margin = hi->x > lo->x ? std::max<std::int64_t>((hi->x - lo->x) / 50, 1) : 30'000;
    return {lo->x - margin, hi->x + margin};
}

void TrendSamples::clear() {
    samples_.clear();
    gap_ = 0;
    ranges_ = emptyRanges();
}

void TrendSamples::widen(const Sample& sample) {
    for (int i = 0; i < kTrendSeriesCount; ++i) {
        if (!std::isfinite(sample.values[i]))
            continue;
        auto& [lo, hi] = ranges_[std::size_t(kTrendSeries[std::size_t(i)].chart)];
        lo = std::min(lo, sample.values[i]);
        hi = std::max(hi, sample.values[i]);
    }
}

}  // namespace kestrel
