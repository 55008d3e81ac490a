#pragma once
// Axis ticks a reader takes in at a glance: values at 1, 2, 2.5 or 5 times a
// power of ten, times of day at whole seconds, minutes, hours, days, months
// or years, all in UTC, and their labels.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::plot {

struct ValueTicks {
    double lo = 0, hi = 1;  // the axis: the data's range widened to whole steps
    double step = 1;
    int decimals = 0;  // that the labels need to tell the ticks apart
    std::vector<double> at;
};
// Ticks covering lo..hi, at most maxTicks of them (at least 2), but three
// where two would need a step far wider than the range (lo..hi across zero
// or another round value): the axis never grows to more than twice the
// range for want of a tick. A single value (or values within a millionth of
// each other) or no value at all still gets an axis around it.
ValueTicks niceTicks(double lo, double hi, int maxTicks);
// A value with that many decimals, "." as separator, never "-0".
std::string formatValue(double v, int decimals);

enum class TimeLabel { Seconds, Minutes, Days, Months, Years };
struct TimeTicks {
    std::int64_t step = 0;  // milliseconds; months and years count as 30 and 365 days
    TimeLabel label = TimeLabel::Minutes;
    std::vector<std::int64_t> at;  // inside t0..t1
};
// The ticks inside t0..t1 (UTC milliseconds), at most maxTicks of them.
TimeTicks timeTicks(std::int64_t t0, std::int64_t t1, int maxTicks);
// "HH:mm:ss", "HH:mm", "MM-dd", "yyyy-MM", "yyyy".
std::string formatTime(std::int64_t ms, TimeLabel label);
// "yyyy-MM-dd" and "yyyy-MM-dd HH:mm:ss".
std::string formatDate(std::int64_t ms);
std::string formatDateTime(std::int64_t ms);

}  // namespace kestrel::plot
