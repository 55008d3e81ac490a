// The trend plot's samples: each chart's range over what can be drawn, passes
// kept as beacons come in order, and beacons that arrive late.

#include "plot/TrendSamples.h"

#include "telemetry/TimeIndex.h"

#include <gtest/gtest.h>

#include <limits>

namespace kestrel::plot {
namespace {

BeaconLogEntry at(std::int64_t seconds) {
    BeaconLogEntry e;
    e.utc = utcFromMilliseconds(utcMilliseconds({2026, 12, 0, 8, 5, 0, 0, 0}) + seconds * 1000);
    e.vbat = 7100;
    return e;
}

TEST(TrendSamples, RangesLeaveOutNoNumbersAndLateBeaconsWaitForSettling) {
    TrendSamples samples;
    BeaconLogEntry e = at(20);
    e.tcpu = std::numeric_limits<double>::quiet_NaN();
    e.tpsu = 21;
    samples.add(e);
    e = at(10);
    e.vbat = 6900;
    e.tpsu = -5;
    EXPECT_FALSE(samples.add(e)) << "earlier than the last";
    EXPECT_FALSE(samples.sorted());
    EXPECT_NEAR(samples.range(0).first, 6.9, 1e-6);
    EXPECT_NEAR(samples.range(0).second, 7.1, 1e-6);
    EXPECT_EQ(samples.range(2), std::make_pair(-5.0, 21.0)) << "the NaN temperature is left out";
    samples.settle();
    EXPECT_EQ(samples.samples().front().t, utcMilliseconds(at(10).utc));
    EXPECT_EQ(samples.passes().size(), 1u);

    BeaconLogEntry noDate;  // a line whose date is no date is not shown
    EXPECT_TRUE(samples.add(noDate));
    EXPECT_EQ(samples.size(), 2u);
    samples.clear();
    EXPECT_GT(samples.range(0).first, samples.range(0).second);
}

TEST(TrendSamples, PassesBreakWhereBeaconsPausedAndGrowInPlace) {
    TrendSamples samples;
    // Two passes two hours apart, a beacon every 10 s, one of them lost.
    for (std::int64_t t : {0, 10, 20, 40, 50, 7200, 7210, 7220})
        samples.add(at(t));
    ASSERT_EQ(samples.passes().size(), 2u);
    EXPECT_EQ(samples.breakGap(), 50'000);
    EXPECT_EQ(samples.passes()[0].end, 5u);
    EXPECT_EQ(samples.passes()[1].first, 5u);
    EXPECT_TRUE(samples.add(at(7230))) << "the newest pass grows in place";
    EXPECT_FALSE(samples.add(at(9000))) << "a new pass";
    EXPECT_EQ(samples.passes().size(), 3u);
    EXPECT_EQ(samples.passAt(utcMilliseconds(at(4000).utc)), 1) << "nearest to the second pass";
    EXPECT_EQ(samples.passAt(utcMilliseconds(at(-50).utc)), 0);
}

}  // namespace
}  // namespace kestrel::plot
