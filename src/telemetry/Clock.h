#pragma once
// The clocks the telemetry code reads, behind a seam so tests can fix the time.
// Platform implementations: ClockPosix.cpp, ClockWin32.cpp.

#include <cstdint>

namespace kestrel {

// A calendar date and time of eight unsigned 16-bit fields. dayOfWeek counts
// from 0 for Sunday.
struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t dayOfWeek = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;

    friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

class IClock {
public:
    virtual ~IClock() = default;
    // Current date and time in UTC.
    virtual SystemTime utcNow() = 0;
    // Current date and time in the machine's local time zone.
    virtual SystemTime localNow() = 0;
    // The local date and time of a moment given in UTC (a beacon's receive
    // time as the operator's pane shows it).
    virtual SystemTime localTime(const SystemTime& utc) = 0;
    // Milliseconds since the system started, wrapping at 2^32.
    virtual std::uint32_t tickCount() = 0;
};

// The operating system's clock (one instance for the process).
IClock& systemClock();

}  // namespace kestrel
