// Value and time ticks (see Scale.h).

#include "plot/Scale.h"

#include "telemetry/TimeIndex.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kestrel::plot {
namespace {

// Values closer than this share of their size are one value.
constexpr double kOneValue = 1e-6;

constexpr std::int64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::string twoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// The first day of the month `months` after January of year 0, in milliseconds.
std::int64_t monthStart(std::int64_t months) {
    SystemTime t;
    t.year = static_cast<std::uint16_t>(months / 12);
    t.month = static_cast<std::uint16_t>(months % 12 + 1);
    t.day = 1;
    return utcMilliseconds(t);
}

}  // namespace

ValueTicks niceTicks(double lo, double hi, int maxTicks) {
    ValueTicks t;
    maxTicks = std::max(2, maxTicks);
    if (!(std::isfinite(lo) && std::isfinite(hi) && std::isfinite(hi - lo)) || lo > hi) {
        lo = 0;
        hi = 1;
    }
    // Closer than a millionth: one value as far as a float telemetry field
    // tells. An axis a little wider than it.
    if (hi - lo < kOneValue * std::max(1.0, std::max(std::abs(lo), std::abs(hi)))) {
        const double pad = std::max(std::abs(hi) * 0.05, 0.5);
        lo -= pad;
        hi += pad;
    }
    // The smallest step of 1, 2, 2.5 or 5 times a power of ten whose whole
    // steps cover lo..hi in at most `most` ticks. Samples are floats: a value
    // a ten-thousandth of a step past a tick counts as on it. A step wider
    // than twice the range only ever helps two ticks straddle a round value
    // (zero, say) by going absurdly wide: three ticks instead. Three always
    // fit by then: any step of at least the range does.
    const double span = hi - lo;
    const auto search = [&](int most) {
        const double raw = span / (most - 1);
        for (double base = std::pow(10.0, std::floor(std::log10(raw)));; base *= 10)
            for (double m : {1.0, 2.0, 2.5, 5.0}) {
                const double step = m * base;
                if (step < raw * (1 - 1e-9))
                    continue;
                if (step > 2 * span * (1 + 1e-9))
                    return false;
                const double first = std::floor(lo / step + 1e-4), last = std::ceil(hi / step - 1e-4);
                if (last - first + 1 <= most) {
                    t.lo = first * step;
                    t.hi = last * step;
                    t.step = step;
                    return true;
                }
            }
    };
    if (!search(maxTicks) && !search(3)) {
        t.lo = lo;  // only where rounding defeats the search: the range itself
        t.hi = hi;
        t.step = span;
    }
    const double e = std::floor(std::log10(t.step) + 1e-9);
    const double mantissa = t.step / std::pow(10.0, e);
    t.decimals = std::max(0, static_cast<int>(-e) + (std::abs(mantissa - 2.5) < 1e-6 ? 1 : 0));
    const int n = static_cast<int>(std::llround((t.hi - t.lo) / t.step));
    for (int i = 0; i <= n; ++i)
        t.at.push_back(t.lo + i * t.step);
    return t;
}

std::string formatValue(double v, int decimals) {
    if (!std::isfinite(v))
        return std::isnan(v) ? "nan" : v > 0 ? "inf" : "-inf";
    // Not printf: that takes the locale's decimal comma, and a Qt program
    // runs in the user's locale.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, std::clamp(decimals, 0, 9));
    std::string s(buf, res.ptr);
    // Rounded to nothing, a small negative value reads "-0.0".
    if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    return s;
}

TimeTicks timeTicks(std::int64_t t0, std::int64_t t1, int maxTicks) {
    struct Step {
        std::int64_t ms;
        TimeLabel label;
        int months;  // calendar months, when the step is one
    };
    static constexpr std::array<Step, 27> kSteps{{
        {kSecond, TimeLabel::Seconds, 0},      {2 * kSecond, TimeLabel::Seconds, 0},
        {5 * kSecond, TimeLabel::Seconds, 0},  {10 * kSecond, TimeLabel::Seconds, 0},
        {15 * kSecond, TimeLabel::Seconds, 0}, {30 * kSecond, TimeLabel::Seconds, 0},
        {kMinute, TimeLabel::Minutes, 0},      {2 * kMinute, TimeLabel::Minutes, 0},
        {5 * kMinute, TimeLabel::Minutes, 0},  {10 * kMinute, TimeLabel::Minutes, 0},
        {15 * kMinute, TimeLabel::Minutes, 0}, {30 * kMinute, TimeLabel::Minutes, 0},
        {kHour, TimeLabel::Minutes, 0},        {2 * kHour, TimeLabel::Minutes, 0},
        {3 * kHour, TimeLabel::Minutes, 0},    {6 * kHour, TimeLabel::Minutes, 0},
        {12 * kHour, TimeLabel::Minutes, 0},   {kDay, TimeLabel::Days, 0},
        {2 * kDay, TimeLabel::Days, 0},        {5 * kDay, TimeLabel::Days, 0},
        {10 * kDay, TimeLabel::Days, 0},       {30 * kDay, TimeLabel::Months, 1},
        {60 * kDay, TimeLabel::Months, 2},     {91 * kDay, TimeLabel::Months, 3},
        {182 * kDay, TimeLabel::Months, 6},    {365 * kDay, TimeLabel::Years, 12},
        {3650 * kDay, TimeLabel::Years, 120},
    }};
    TimeTicks t;
    maxTicks = std::max(1, maxTicks);
    if (t1 < t0)
        std::swap(t0, t1);
    const std::int64_t span = t1 - t0;
    Step chosen = kSteps.back();
    for (const Step& s : kSteps)
        if (span / s.ms + 1 <= maxTicks) {
            chosen = s;
            break;
        }
    t.step = chosen.ms;
    t.label = chosen.label;
    if (chosen.months == 0) {
        for (std::int64_t at = floorDiv(t0 + chosen.ms - 1, chosen.ms) * chosen.ms; at <= t1; at += chosen.ms)
            t.at.push_back(at);
        return t;
    }
    const SystemTime start = utcFromMilliseconds(t0);
    std::int64_t m = std::int64_t{start.year} * 12 + (start.month - 1);
    m = (m + chosen.months - 1) / chosen.months * chosen.months;
    if (monthStart(m) < t0)
        m += chosen.months;
    for (std::int64_t at; (at = monthStart(m)) <= t1; m += chosen.months)
        t.at.push_back(at);
    return t;
}

std::string formatTime(std::int64_t ms, TimeLabel label) {
    const SystemTime t = utcFromMilliseconds(ms);
    switch (label) {
    case TimeLabel::Seconds: return twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second);
    case TimeLabel::Minutes: return twoDigits(t.hour) + ":" + twoDigits(t.minute);
    case TimeLabel::Days: return twoDigits(t.month) + "-" + twoDigits(t.day);
    case TimeLabel::Months: return std::to_string(t.year) + "-" + twoDigits(t.month);
    case TimeLabel::Years: return std::to_string(t.year);
    }
    return {};
}

std::string formatDate(std::int64_t ms) {
    const SystemTime t = utcFromMilliseconds(ms);
    return std::to_string(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day);
}

std::string formatDateTime(std::int64_t ms) { return formatDate(ms) + " " + formatTime(ms, TimeLabel::Seconds); }

}  // namespace kestrel::plot
