// Opening beacons from files: an archive's BeaconTextLogs and the CSV that
// kestrel-redecode writes give the same samples; what cannot be read says so.

#include "plot/TrendFiles.h"

#include "redecode/Redecode.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "telemetry/Archive.h"
#include "telemetry/TimeIndex.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kestrel::plot {
namespace {

namespace fs = std::filesystem;

SystemTime atMinute(int minute) {
    return utcFromMilliseconds(utcMilliseconds({2026, 12, 0, 8, 5, 0, 0, 0}) + minute * 60'000);
}

TEST(TrendFiles, ArchiveLogsAndTheirCsvGiveTheSameSamples) {
    test::ScratchDir dir;
    const fs::path decoded = dir.path() / "station" / "Telemetry" / "Decoded";
    fs::create_directories(decoded);
    std::string csv = redecode::csvHeader();
    for (int run = 0; run < 2; ++run) {
        std::ofstream log(decoded / ("KR7_beacon_2026_12_08_05000" + std::to_string(run) + "_UTC.txt"),
                          std::ios::binary);
        log << beaconTextLogHeader();
        for (int m = 0; m < 3; ++m) {
            // The CSV of what the log holds (CR LF taken off), as kestrel-redecode writes it.
            const std::string line = beaconTextLogLine(test::exampleRecord(), atMinute(run * 100 + m));
            log << line;
            csv += redecode::csvRow(*parseBeaconTextLogLine(line.substr(0, line.size() - 2)));
        }
        if (run == 0)
            log << "86400\t6850\tbroken\r\n";
    }
    std::ofstream(decoded / "notes.txt") << "not a log\n";
    test::writeFile(dir.path() / "beacons.csv", csv);

    TrendView fromArchive, fromCsv, fromDecoded;
    const TrendLoad a = openTrendPath(fromArchive, dir.path() / "station");
    EXPECT_EQ(a.beacons, 6u);
    EXPECT_EQ(a.skipped, 1u);
    EXPECT_EQ(a.problem, "");
    EXPECT_EQ(openTrendPath(fromDecoded, decoded).beacons, 6u) << "the Decoded folder itself";
    const TrendLoad c = openTrendPath(fromCsv, dir.path() / "beacons.csv");
    EXPECT_EQ(c.beacons, 6u);
    ASSERT_EQ(fromCsv.samples().size(), fromArchive.samples().size());
    for (std::size_t i = 0; i < fromCsv.samples().size(); ++i) {
        const TrendSample &x = fromArchive.samples().samples()[i], &y = fromCsv.samples().samples()[i];
        EXPECT_EQ(x.t, y.t);
        EXPECT_EQ(x.values, y.values);
        EXPECT_EQ(x.gps, y.gps);
        EXPECT_EQ(x.latitude, y.latitude);
    }
    EXPECT_EQ(fromArchive.samples().passes().size(), 2u);
    EXPECT_EQ(stationFolderOf(decoded), dir.path() / "station");

    // F2's earlier runs: every log but this run's own, whose beacons came live.
    TrendView earlier;
    EXPECT_EQ(
        openTrendArchive(earlier, dir.path() / "station", decoded / "KR7_beacon_2026_12_08_050001_UTC.txt").beacons,
        3u);

    TrendView none;
    EXPECT_NE(openTrendPath(none, dir.path() / "missing.csv").problem.find("cannot read"), std::string::npos);
    EXPECT_NE(openTrendPath(none, decoded / "notes.txt").problem.find("neither"), std::string::npos);
    EXPECT_NE(openTrendPath(none, dir.path()).problem.find("no Telemetry/Decoded folder"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::plot
