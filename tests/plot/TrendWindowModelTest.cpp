// The trend window's rules both windows follow: a hidden window only keeps
// live beacons, a shown one repaints only the columns a beacon changed; what
// was opened, skipped or not saved in the status line; the station's position
// from the opened folder's settings file.

#include "plot/TrendWindowModel.h"

#include "support/Files.h"
#include "support/Fixtures.h"
#include "telemetry/Archive.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kestrel::plot {
namespace {

namespace fs = std::filesystem;

SystemTime atSecond(int seconds) {
    return utcFromMilliseconds(utcMilliseconds({2026, 12, 0, 8, 5, 0, 0, 0}) + seconds * 1000);
}

TEST(TrendWindowModel, HiddenItKeepsLiveBeaconsShownItRepaintsOnlyTheirColumns) {
    TrendWindowModel model;
    for (int s = 0; s < 1000; s += 10) {
        const TrendView::Damage hidden = model.addBeacon(test::exampleRecord(), atSecond(s), false);
        EXPECT_TRUE(!hidden.all && hidden.rects.empty());
    }
    EXPECT_EQ(model.view().samples().size(), 100u);

    model.view().display();  // shown: laid out and painted
    model.view().takeDamage();
    const TrendView::Damage shown = model.addBeacon(test::exampleRecord(), atSecond(1000), true);
    EXPECT_FALSE(shown.all);
    ASSERT_FALSE(shown.rects.empty());
    for (const RectF& r : shown.rects)
        EXPECT_LT(r.width, 8.f) << "a column, not the plot";
    EXPECT_EQ(model.statusText().rfind("101 beacons in 1 pass", 0), 0u) << model.statusText();
}

TEST(TrendWindowModel, OpeningSaysWhatItSkippedAndTakesTheStationFromTheFolder) {
    test::ScratchDir dir;
    const fs::path decoded = dir.path() / "station" / "Telemetry" / "Decoded";
    fs::create_directories(decoded);
    std::ofstream(decoded / "KR7_beacon_2026_12_08_050000_UTC.txt", std::ios::binary)
        << beaconTextLogHeader() << beaconTextLogLine(test::exampleRecord(), atSecond(0)) << "86400\tbroken\r\n";
    std::ofstream(dir.path() / "station" / "RS232Settings.ini", std::ios::binary)
        << "[Share]\r\nLatitude=49.5\r\nLongitude=8.25\r\n";

    TrendWindowModel model;
    EXPECT_EQ(model.open(dir.path() / "station"), 1);
    ASSERT_TRUE(model.view().station());
    EXPECT_EQ(model.view().station()->latitude, 49.5);
    EXPECT_NE(model.statusText().find("; 1 unparseable line skipped"), std::string::npos) << model.statusText();

    EXPECT_EQ(model.open(dir.path() / "missing.txt"), -1);
    EXPECT_FALSE(model.view().station()) << "a folder without settings has no station";
    EXPECT_NE(model.statusText().find("; 1 unparseable line skipped; cannot read"), std::string::npos)
        << model.statusText();

    model.notSaved("trends.png", "Disk full");
    EXPECT_NE(model.statusText().find("; cannot write trends.png: Disk full"), std::string::npos);
    model.saved();
    EXPECT_EQ(model.statusText().find("cannot"), std::string::npos) << model.statusText();
}

}  // namespace
}  // namespace kestrel::plot
