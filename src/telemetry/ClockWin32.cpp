// The clock on Windows: GetSystemTime, GetLocalTime and GetTickCount.

#include "telemetry/Clock.h"

#include <windows.h>

namespace kestrel {
namespace {

SystemTime fromWin32(const SYSTEMTIME& st) {
    SystemTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.dayOfWeek = st.wDayOfWeek;  // 0 is Sunday on both sides
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

class ClockWin32 final : public IClock {
public:
    SystemTime utcNow() override {
        SYSTEMTIME st{};
        GetSystemTime(&st);
        return fromWin32(st);
    }

    SystemTime localNow() override {
        SYSTEMTIME st{};
        GetLocalTime(&st);
        return fromWin32(st);
    }

    SystemTime localTime(const SystemTime& utc) override {
        const SYSTEMTIME st{utc.year, utc.month,  utc.dayOfWeek, utc.day,
                            utc.hour, utc.minute, utc.second,    utc.millisecond};
        SYSTEMTIME local{};
        if (!SystemTimeToTzSpecificLocalTime(nullptr, &st, &local))
            return utc;
        return fromWin32(local);
    }
    std::uint32_t tickCount() override { return GetTickCount(); }
};

}  // namespace

IClock& systemClock() {
    static ClockWin32 clock;
    return clock;
}

}  // namespace kestrel
