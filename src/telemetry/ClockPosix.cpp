// The clock on Linux: UTC and local time from clock_gettime, and a millisecond
// tick count from the monotonic clock.

#include "telemetry/Clock.h"

#include <ctime>

namespace kestrel {
namespace {

SystemTime toSystemTime(const std::tm& tm, long nanoseconds) {
    SystemTime t;
    t.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    t.dayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    t.day = static_cast<std::uint16_t>(tm.tm_mday);
    t.hour = static_cast<std::uint16_t>(tm.tm_hour);
    t.minute = static_cast<std::uint16_t>(tm.tm_min);
    // A leap second reads as :59, as the calendar record has no room for :60.
    t.second = static_cast<std::uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    t.millisecond = static_cast<std::uint16_t>(nanoseconds / 1000000);
    return t;
}

// Reads the calendar clock and breaks it down with gmtime_r or localtime_r.
SystemTime readCalendar(std::tm* (*breakDown)(const std::time_t*, std::tm*)) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    breakDown(&ts.tv_sec, &tm);
    return toSystemTime(tm, ts.tv_nsec);
}

class ClockPosix final : public IClock {
public:
    SystemTime utcNow() override { return readCalendar(gmtime_r); }
    SystemTime localNow() override { return readCalendar(localtime_r); }
    SystemTime localTime(const SystemTime& utc) override {
        std::tm tm{};
        tm.tm_year = utc.year - 1900;
        tm.tm_mon = utc.month - 1;
        tm.tm_mday = utc.day;
        tm.tm_hour = utc.hour;
        tm.tm_min = utc.minute;
        tm.tm_sec = utc.second;
        const std::time_t at = timegm(&tm);
        std::tm local{};
        localtime_r(&at, &local);
        return toSystemTime(local, long(utc.millisecond) * 1000000);
    }

    std::uint32_t tickCount() override {
        timespec ts{};
#ifdef CLOCK_BOOTTIME
        clock_gettime(CLOCK_BOOTTIME, &ts);  // counts suspended time too, like an uptime
#else
        clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
        const auto ms =
            static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec / 1000000);
        return static_cast<std::uint32_t>(ms);
    }
};

}  // namespace

IClock& systemClock() {
    static ClockPosix clock;
    return clock;
}

}  // namespace kestrel
