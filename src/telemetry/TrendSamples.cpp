// The trend plot's fields, charts and samples, with each chart's value range.

#include "telemetry/TrendSamples.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel {

const std::array<TrendSeriesInfo, kTrendSeriesCount> kTrendSeries{{
    {"Vbat", 0},                                                              // V
    {"Iin", 1},  {"Isys", 1}, {"Isun1", 1},   {"Isun2", 1}, {"Isun3", 1},   // mA
    {"Tcpu", 2}, {"Tpsu", 2}, {"ToutMin", 2}, {"ToutMax", 2},               // degrees Celsius
    {"Bx", 3},   {"By", 3},   {"Bz", 3},                                    // uT
}};
const std::array<const char*, kTrendChartCount> kTrendChartTitles{
    "Battery voltage [V]", "Currents [mA]", "Temperatures [\u00b0C]", "Magnetic field [uT]"};

namespace {

std::array<double, kTrendSeriesCount> valuesOf(const BeaconLogEntry& e) {
    return {e.vbat / 1000.0, double(e.iin), double(e.isys), double(e.isun[0]), double(e.isun[1]),
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

void TrendSamples::clear() {
    samples_.clear();
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
