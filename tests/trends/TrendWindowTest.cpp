// The trend window offscreen: points per series from live beacons and from logs.
#include "trends/TrendWindow.h"

#include "telemetry/Archive.h"

#include "support/Files.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QLineSeries>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace kestrel;

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "trend-window-tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

SystemTime at(std::uint16_t hour) { return {2024, 3, 0, 5, hour, 15, 7, 0}; }

void expectPointsPerSeries(const TTrendWindow& w, int points) {
    ASSERT_EQ(w.series().size(), 13);
    for (QLineSeries* s : w.series()) {
        EXPECT_EQ(s->count(), points) << s->name().toStdString();
        const auto xs = s->points();
        EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    }
}

}  // namespace

TEST(TrendWindow, OnePointPerBeaconFromLiveBeaconsAndLogs) {
    TTrendWindow w;
    for (std::uint16_t h = 10; h < 13; ++h)
        w.addBeacon(test::exampleRecord(), at(h));
    expectPointsPerSeries(w, 3);
    EXPECT_DOUBLE_EQ(w.series("Vbat")->at(0).y(), 6.85);

    // A log from earlier that day, with one line no reader can make sense of.
    test::ScratchDir dir;
    const auto decoded = dir.path() / "Telemetry" / "Decoded";
    std::filesystem::create_directories(decoded);
    const auto log = decoded / "KR7_beacon_2024_03_05_070000_UTC.txt";
    std::ofstream(log, std::ios::binary) << beaconTextLogHeader() << beaconTextLogLine(test::exampleRecord(), at(7))
                                         << "86400\t6850\tbroken\r\n"
                                         << beaconTextLogLine(test::exampleRecord(), at(8));
    EXPECT_EQ(w.openLog(QString::fromStdString(log.string())), 1);
    EXPECT_EQ(w.openLog(QString::fromStdString((decoded / "missing.txt").string())), -1);
    expectPointsPerSeries(w, 5);
    EXPECT_EQ(w.skippedLines(), 1);

    TTrendWindow fromArchive;
    EXPECT_EQ(fromArchive.openArchive(QString::fromStdString(dir.str())), 1);
    expectPointsPerSeries(fromArchive, 2);

    const auto png = dir.path() / "trends.png";
    ASSERT_TRUE(w.savePng(QString::fromStdString(png.string())));
    EXPECT_FALSE(QImage(QString::fromStdString(png.string())).isNull());
}

// The axis reads UTC whatever the zone, across a change to summer time too:
// the zone's offset is looked up once per hour of readings, not per beacon.
TEST(TrendWindow, TheTimeAxisReadsUtcInAnyZone) {
    const QByteArray zone = qgetenv("TZ");
    for (const char* tz : {"America/St_Johns", "Europe/Berlin"}) {
        qputenv("TZ", tz);
        TTrendWindow w;
        // Berlin goes to summer time at 01:00 UTC that day.
        const SystemTime times[] = {{2024, 3, 0, 31, 0, 59, 58, 0}, {2024, 3, 0, 31, 1, 0, 2, 0}};
        for (const SystemTime& t : times)
            w.addBeacon(test::exampleRecord(), t);
        ASSERT_EQ(w.series("Vbat")->count(), 2);
        const auto label = [&](int i) {
            return QDateTime::fromMSecsSinceEpoch(qint64(w.series("Vbat")->at(i).x())).toString("yyyy-MM-dd hh:mm:ss");
        };
        EXPECT_EQ(label(0), "2024-03-31 00:59:58") << tz;
        EXPECT_EQ(label(1), "2024-03-31 01:00:02") << tz;
    }
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
}
