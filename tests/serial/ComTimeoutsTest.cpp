// The Win32 time-out rules as the Linux device bounds its transfers with them.

#include <gtest/gtest.h>

#include "serial/ComTimeoutsPosix.h"

namespace kestrel {
namespace {

using std::chrono::milliseconds;
const ComClock::time_point t0{std::chrono::hours(1)};
constexpr auto kNever = ComClock::time_point::max();

ComTimeoutValues readTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    ComTimeoutValues t;
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    return t;
}

ComClock::time_point deadline(const ComTimeoutValues& t, uint32_t count, uint32_t done = 0,
                              ComClock::time_point lastByte = {}) {
    return ReadDeadline(ReadLimitsFor(t, count), t0, done, lastByte);
}

TEST(ComTimeouts, ATotalLimitAndAGapLimitAfterEachByteWhicheverComesFirst) {
    const ComTimeoutValues t = readTimeouts(100, 100, 100);
    EXPECT_EQ(deadline(t, 10), t0 + milliseconds(1100)) << "no gap limit before the first byte";
    EXPECT_EQ(deadline(t, 10, 3, t0 + milliseconds(50)), t0 + milliseconds(150));
    EXPECT_EQ(deadline(t, 10, 9, t0 + milliseconds(1050)), t0 + milliseconds(1100));
    EXPECT_FALSE(ReadLimitsFor(t, 10).returnOnFirstByte);
}

TEST(ComTimeouts, TheWin32SpecialCases) {
    EXPECT_EQ(deadline(readTimeouts(kMaxDword, 0, 0), 10), t0) << "what is there, at once";
    const ReadLimits firstByte = ReadLimitsFor(readTimeouts(kMaxDword, kMaxDword, 250), 10);
    EXPECT_TRUE(firstByte.returnOnFirstByte);
    EXPECT_EQ(ReadDeadline(firstByte, t0, 0, {}), t0 + milliseconds(250));
    EXPECT_EQ(deadline(readTimeouts(0, 0, 0), 10, 5, t0), kNever) << "no time-outs: until the count is there";
    EXPECT_EQ(deadline(readTimeouts(kMaxDword, 0, 40), 10, 5, t0), t0 + milliseconds(40))
        << "MAXDWORD with a total limit sets no gap limit";
}

TEST(ComTimeouts, HugeValuesStopAtAYearInsteadOfOverflowing) {
    const auto year = std::chrono::hours(24 * 365);
    EXPECT_EQ(deadline(readTimeouts(0, kMaxDword - 1, kMaxDword - 1), 0xFFFFFFFFu), t0 + year);
    ComTimeoutValues w;
    w.WriteTotalTimeoutMultiplier = kMaxDword;
    w.WriteTotalTimeoutConstant = kMaxDword;
    EXPECT_EQ(WriteDeadline(w, 0xFFFFFFFFu, t0), t0 + year);
}

TEST(ComTimeouts, AWriteIsBoundedByMultiplierTimesCountPlusConstantOrNotAtAll) {
    ComTimeoutValues w;
    w.WriteTotalTimeoutMultiplier = 1000;
    w.WriteTotalTimeoutConstant = 1000;
    EXPECT_EQ(WriteDeadline(w, 3, t0), t0 + milliseconds(4000));
    EXPECT_EQ(WriteDeadline(ComTimeoutValues{}, 3, t0), kNever);
}

}  // namespace
}  // namespace kestrel
