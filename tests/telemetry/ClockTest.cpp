// The platform clock behind the seam.
#include "telemetry/Clock.h"

#include <gtest/gtest.h>

using namespace kestrel;

TEST(SystemClock, GivesPlausibleCalendarFieldsAndARunningTickCount) {
    IClock& clock = systemClock();
    for (const SystemTime& t : {clock.utcNow(), clock.localNow()}) {
        EXPECT_GE(t.year, 2020);
        EXPECT_TRUE(t.month >= 1 && t.month <= 12);
        EXPECT_LE(t.dayOfWeek, 6);
        EXPECT_TRUE(t.day >= 1 && t.day <= 31);
        EXPECT_LE(t.hour, 23);
        EXPECT_LE(t.minute, 59);
        EXPECT_LE(t.second, 59);
        EXPECT_LE(t.millisecond, 999);
    }
    const std::uint32_t a = clock.tickCount();
    const std::uint32_t b = clock.tickCount();
    EXPECT_LT(static_cast<std::uint32_t>(b - a), 60000u);  // wrap-safe: no step backwards
}
