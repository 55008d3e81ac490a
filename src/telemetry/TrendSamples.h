#pragma once
// The telemetry a trend plot shows over time: which fields, on which of four
// charts, and the samples with each chart's value range kept as they come.
// The toolkit's window only draws them.

#include "telemetry/BeaconTextLogReader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrel {

struct TrendSeriesInfo {
    const char* name;  // the field's name (Vbat, Iin, Bx, ...)
    int chart;
};

inline constexpr int kTrendSeriesCount = 13;
inline constexpr int kTrendChartCount = 4;
// Battery voltage [V]; currents [mA]; temperatures [degrees C]; magnetic field [uT].
extern const std::array<TrendSeriesInfo, kTrendSeriesCount> kTrendSeries;
extern const std::array<const char*, kTrendChartCount> kTrendChartTitles;

class TrendSamples {
public:
    struct Sample {
        std::int64_t x;                                // the receive time on the plot's axis
        std::array<double, kTrendSeriesCount> values;  // in kTrendSeries order
    };

    // Adds a beacon received at x; false when it is earlier than the last one,
    // so that the lines, which join points in the order held, need sortByTime().
    bool add(std::int64_t x, const BeaconLogEntry& entry);
    // Time order, equal times kept in the order they came.
    void sortByTime();
    void clear();

    // Lines break where beacons stopped for longer than this many typical
    // beacon intervals (a satellite pass ended) instead of running straight
    // across hours of nothing.
    static constexpr std::int64_t kBreakIntervals = 5;
    // The gap in x above which a line breaks, from the samples in time order;
    // 0 (never) while fewer than two distinct times are held.
    std::int64_t breakGap() const;
    // The indices of the time-ordered samples that start a line: 0 first.
    std::vector<std::size_t> lineStarts() const;
    // Whether the newest sample, added in time order, starts a line of its
    // own (a new pass). The gap is worked out again as the samples double and
    // at lineStarts(), not at every beacon.
    bool lastStartsLine();
    // The time axis: the samples' span with a small margin (half a minute
    // each side for a single moment); {0, 0} without samples.
    std::pair<std::int64_t, std::int64_t> timeRange() const;

    const std::vector<Sample>& samples() const { return samples_; }
    std::size_t size() const { return samples_.size(); }
    // The range of a chart's finite values (no number cannot be drawn); lo > hi
    // while it has none.
    std::pair<double, double> range(int chart) const { return ranges_[std::size_t(chart)]; }

private:
    void widen(const Sample& sample);

    std::vector<Sample> samples_;
    mutable std::int64_t gap_ = 0;  // breakGap() as last worked out
    std::array<std::pair<double, double>, kTrendChartCount> ranges_ = emptyRanges();
    static std::array<std::pair<double, double>, kTrendChartCount> emptyRanges();
};

}  // namespace kestrel
