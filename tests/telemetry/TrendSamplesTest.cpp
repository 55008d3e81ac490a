// The trend plot's samples: each chart's range over what can be drawn, and
// beacons that arrive out of time order.

#include "telemetry/TrendSamples.h"

#include <gtest/gtest.h>

#include <limits>

namespace kestrel {
namespace {

TEST(TrendSamples, RangesLeaveOutNoNumbersAndLateBeaconsAskForSorting) {
    TrendSamples samples;
    BeaconLogEntry e;
    e.vbat = 7100;
    e.tcpu = std::numeric_limits<double>::quiet_NaN();
    e.tpsu = 21;
    EXPECT_TRUE(samples.add(2000, e));
    e.vbat = 6900;
    e.tpsu = -5;
    EXPECT_FALSE(samples.add(1000, e)) << "earlier than the last";
    EXPECT_EQ(samples.range(0), std::make_pair(6.9, 7.1));
    EXPECT_EQ(samples.range(2), std::make_pair(-5.0, 21.0)) << "the NaN temperature is left out";
    samples.sortByTime();
    EXPECT_EQ(samples.samples().front().x, 1000);
    samples.clear();
    EXPECT_GT(samples.range(0).first, samples.range(0).second);
}

TEST(TrendSamples, LinesBreakBetweenPassesAndTheAxisFitsTheData) {
    TrendSamples samples;
    const BeaconLogEntry e;
    // Two passes two hours apart, a beacon every 10 s, one of them lost.
    for (std::int64_t t : {0, 10, 20, 40, 50, 7200, 7210, 7220})
        samples.add(t * 1000, e);
    EXPECT_EQ(samples.lineStarts(), (std::vector<std::size_t>{0, 5}));
    EXPECT_EQ(samples.timeRange(), std::make_pair(std::int64_t{-144'400}, std::int64_t{7'364'400}));

    samples.clear();
    samples.add(5000, e);
    samples.add(5000, e);
    EXPECT_EQ(samples.lineStarts(), (std::vector<std::size_t>{0}));
    EXPECT_EQ(samples.timeRange(), std::make_pair(std::int64_t{-25'000}, std::int64_t{35'000}));
}

}  // namespace
}  // namespace kestrel
