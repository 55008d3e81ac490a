// Reading BeaconTextLogs back (for the trend window): what the archive
// writes comes back, lines that are no data are skipped and counted.

#include "telemetry/BeaconTextLogReader.h"

#include "telemetry/Archive.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrel;

namespace {

const SystemTime kStored{2024, 3, 0, 5, 14, 15, 7, 0};

}  // namespace

TEST(BeaconTextLogReader, ReadsBackWhatTheArchiveWrites) {
    // The worked example's line holds its values exactly, but for Tcpu, which
    // the line rounds to 30.6.
    // A line has no boot fields.
    BeaconLogEntry expected = beaconLogEntry(test::exampleRecord(), kStored);
    expected.tcpu = 30.6;
    expected.boots.reset();
    expected.lastBootCause.reset();
    const std::string line =
        "86400\t6850\t  95\t 200\t12.5\t-3.0\t0.0\t54.900000\t23.933300\t400050.0000\t1005.0000\t1\t30.6\t18\t-25\t"
        "-21\t0\t0\t120\t0\t385\t1\t22\t333\t4000\t555\t6\t0x01000AFF00001080\t2024-03-05\t14:15:07";
    const auto entry = parseBeaconTextLogLine(line);
    ASSERT_TRUE(entry);
    EXPECT_EQ(*entry, expected);
    // A re-decoded tree of pooled frames adds the observers and the receptions.
    expected.observers = "N0CALL-JN49ar;DL1ABC-JO62";
    expected.receptions = 3;
    EXPECT_EQ(parseBeaconTextLogLine(line + "\tN0CALL-JN49ar;DL1ABC-JO62\t3"), expected);
    EXPECT_FALSE(parseBeaconTextLogLine(line + "\tN0CALL-JN49ar\tthree"));

    BeaconRecord odd = test::exampleRecord();
    odd.setBx(std::nanf(""));
    odd.setBy(-INFINITY);
    odd.setLatitude(INFINITY);
    odd.setTpsu(-32768);
    odd.setVbat(65535);
    const auto back = parseBeaconTextLogLine(beaconTextLogFields(odd) + "\t2024-03-05\t14:15:07");
    ASSERT_TRUE(back);
    EXPECT_TRUE(std::isnan(back->bx));
    EXPECT_EQ(back->by, -INFINITY);
    EXPECT_EQ(back->latitude, INFINITY);
    EXPECT_EQ(back->tpsu, -32768);
    EXPECT_EQ(back->vbat, 65535);
}

TEST(BeaconTextLogReader, SkipsAndCountsWhatIsNoDataLine) {
    const std::string good = beaconTextLogLine(test::exampleRecord(), kStored);
    std::string bad = good;
    bad.replace(0, 5, "86x00");
    std::string text = beaconTextLogHeader() + good + bad;
    text += good.substr(0, good.size() - 5) + "\r\n";                        // cut short
    text += "1\t" + good;                                                    // a field too many
    text += good.substr(0, good.find("2024")) + "2023-02-29\t14:15:07\r\n";  // no such day
    text += good.substr(0, good.size() - 2);                                 // the last line, no line end

    const BeaconTextLogContents log = parseBeaconTextLog(text);
    EXPECT_EQ(log.entries.size(), 2u);
    EXPECT_EQ(log.skippedLines, 4u);
    EXPECT_TRUE(looksLikeBeaconTextLog(text));
    EXPECT_FALSE(looksLikeBeaconTextLog(good));
}
