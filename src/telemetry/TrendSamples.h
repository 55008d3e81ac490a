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
        std::int64_t x;  // the receive time on the plot's axis
        std::array<double, kTrendSeriesCount> values;  // in kTrendSeries order
    };

    // Adds a beacon received at x; false when it is earlier than the last one,
    // so that the lines, which join points in the order held, need sortByTime().
    bool add(std::int64_t x, const BeaconLogEntry& entry);
    // Time order, equal times kept in the order they came.
    void sortByTime();
    void clear();

    const std::vector<Sample>& samples() const { return samples_; }
    std::size_t size() const { return samples_.size(); }
    // The range of a chart's finite values (no number cannot be drawn); lo > hi
    // while it has none.
    std::pair<double, double> range(int chart) const { return ranges_[std::size_t(chart)]; }

private:
    void widen(const Sample& sample);

    std::vector<Sample> samples_;
    std::array<std::pair<double, double>, kTrendChartCount> ranges_ = emptyRanges();
    static std::array<std::pair<double, double>, kTrendChartCount> emptyRanges();
};

}  // namespace kestrel
