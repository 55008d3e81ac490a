#pragma once
// The telemetry the trend window shows over time: which fields, on which of
// four plots, and the samples as they come, with their passes (runs of
// beacons without a long pause) and each plot's value range kept up to date.
// A year of beacons at one a minute is half a million samples: each is kept
// in 72 bytes, and a beacon that comes in time order costs a few operations.

#include "telemetry/BeaconTextLogReader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrel::plot {

struct TrendSeriesInfo {
    const char* name;  // the field's name (Vbat, Iin, Bx, ...)
    int chart;
    const char* unit;  // after the value in the readout
    int decimals;      // of the value in the readout
};

inline constexpr int kTrendSeriesCount = 13;
inline constexpr int kTrendChartCount = 4;
// Battery voltage [V]; currents [mA]; temperatures [degrees C]; magnetic field [uT].
extern const std::array<TrendSeriesInfo, kTrendSeriesCount> kTrendSeries;
extern const std::array<const char*, kTrendChartCount> kTrendChartTitles;

struct TrendSample {
    std::int64_t t;                               // receive time, UTC milliseconds
    std::array<float, kTrendSeriesCount> values;  // in kTrendSeries order
    float latitude, longitude;                    // degrees
    bool gps;                                     // the receiver was on and the position is one
};

// A run of samples without a pause longer than the break gap: [first, end).
struct Pass {
    std::size_t first = 0, end = 0;
    std::int64_t t0 = 0, t1 = 0;  // the first and the last sample's time
    friend bool operator==(const Pass&, const Pass&) = default;
};

class TrendSamples {
public:
    // Adds a beacon. True when it only extended the newest pass (in time
    // order, no pass recomputed), so that what was laid out still holds;
    // false when the passes changed (a new pass, a beacon earlier than the
    // last, which waits for settle(), or a new break gap). A beacon whose
    // time is no date is not added (and true is returned: nothing changed).
    bool add(const BeaconLogEntry& entry);
    // For loading many: room for n more.
    void reserve(std::size_t n) {
        if (samples_.size() + n > samples_.capacity())
            samples_.reserve(std::max(samples_.size() + n, samples_.capacity() * 2));
    }
    // Time order (equal times kept in the order they came) and the passes
    // worked out again, after beacons that came late. Cheap when in order.
    void settle();
    void clear();

    // Lines break where beacons stopped for longer than this many typical
    // beacon intervals (a satellite pass ended).
    static constexpr std::int64_t kBreakIntervals = 5;
    // The gap above which a pass ends: kBreakIntervals times the median
    // interval, worked out again as the samples double; 0 (never) while fewer
    // than two distinct times are held.
    std::int64_t breakGap() const { return gap_; }
    // The median interval between beacons as last worked out (0 when none).
    std::int64_t typicalInterval() const { return gap_ / kBreakIntervals; }

    const std::vector<TrendSample>& samples() const { return samples_; }
    std::size_t size() const { return samples_.size(); }
    const std::vector<Pass>& passes() const { return passes_; }
    bool sorted() const { return sorted_; }
    // The first sample at or after t (samples in time order).
    std::size_t lowerBound(std::int64_t t) const;
    // The pass that holds time t, else the nearest one; -1 without samples.
    int passAt(std::int64_t t) const;

    // A chart's range of finite values over all samples, or over [first, end);
    // lo > hi when there is none.
    std::pair<double, double> range(int chart) const { return ranges_[std::size_t(chart)]; }
    std::pair<double, double> range(int chart, std::size_t first, std::size_t end) const;

private:
    void widen(const TrendSample& s);
    std::int64_t medianGap() const;
    void repass();

    std::vector<TrendSample> samples_;
    std::vector<Pass> passes_;
    std::int64_t gap_ = 0;
    std::size_t gapAt_ = 0;  // the sample count the gap was worked out at
    bool sorted_ = true;
    std::array<std::pair<double, double>, kTrendChartCount> ranges_ = emptyRanges();
    static std::array<std::pair<double, double>, kTrendChartCount> emptyRanges();
};

// The sample of a beacon, or false when its time is no date.
bool trendSampleOf(const BeaconLogEntry& e, TrendSample& out);

}  // namespace kestrel::plot
