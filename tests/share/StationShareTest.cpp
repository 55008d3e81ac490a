// The station engine forwarding what it decodes: which bytes go, which status
// panel says how it stands, and that a faulty [Share] never stops reception.
#include "station/Station.h"

#include "share/SidsForm.h"
#include "telemetry/TextFormat.h"
#include "telemetry/TimeIndex.h"
#include "support/ExpectedBeacon.h"
#include "support/FakeComDevice.h"
#include "support/FakeView.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/SidsServer.h"
#include "support/TestMailbox.h"
#include "station/Report.h"

#include "support/Beacons.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

namespace kestrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A window whose status panels take every text whole.
struct StatusView : test::FakeView {
    bool statusTextFits(std::string_view) override { return true; }
};

class StationShare : public ::testing::Test {
protected:
    void start(const std::string& sections) {
        log.scriptedEvents = true;  // the port opens with an event thread that waits
        test::writeFile(work.path() / "RS232Settings.ini", test::SettingsFor("ttyTNC") + sections);
        StationSeams seams;
        seams.clock = clock;
        seams.device = std::make_unique<test::FakeComDevice>(log);
        seams.mailbox = &mailbox;
        station = std::make_unique<Station>(view, std::move(seams));
        station->FormCreate();
    }
    std::string share(const std::string& norad = "99999") {
        return "[Share]\r\nUrl=" + server.url() + "\r\nNoradId=" + norad +
               "\r\nCallsign=N0CALL\r\nLatitude=49.73145\r\nLongitude=8.95564\r\n";
    }
    void receive(const std::string& bytes) {
        log.rx += bytes;
        station->CPortRxByte();
    }
    // The one-second tick, then what it queued for the window.
    const std::array<std::string, 4>& tick() {
        station->Timer1Timer();
        station->flushDisplay();
        return view.panels;
    }

    IClock* clock = nullptr;  // none: the system's
    test::WorkingDir work;
    test::SidsServer server;
    test::FakeDeviceLog log;
    test::TestMailbox mailbox;
    StatusView view;
    std::unique_ptr<Station> station;
};

TEST_F(StationShare, APlainLineSendsTheBeaconFrameAndSaysSoInTheLastPanel) {
    start(share());
    const std::string beacon = expected::firstBeacon(1500);
    receive("noise" + beacon + "after");
    ASSERT_TRUE(test::eventually([&] { return server.taken().size() == 1; }, 10s));
    EXPECT_EQ(server.taken().front(), HexUpper(beacon));
    EXPECT_TRUE(test::eventually([&] { return tick()[3] == "Shared 1"; }));
    station->FormClose();
}

TEST_F(StationShare, AKissLineSendsTheWholeDataFrameBesideTheKissCount) {
    start("[Line]\r\nSource=Serial KISS\r\n" + share());
    const std::string frame = test::ax25UiHeader() + test::escapedBeacon(3);
    receive(EncodeKissDataFrame(frame));
    ASSERT_TRUE(test::eventually([&] { return server.taken().size() == 1; }, 10s));
    EXPECT_EQ(server.taken().front(), HexUpper(frame));
    EXPECT_TRUE(test::eventually([&] { return tick()[2] == "Shared 1"; }));
    EXPECT_EQ(view.panels[3], "KISS 1/0");
    station->FormClose();
}

TEST_F(StationShare, AFaultySectionIsShownAndReceptionGoesOn) {
    start(share("0"));
    receive(expected::firstBeacon(1500));
    EXPECT_EQ(station->BeaconCounter(), 1);
    EXPECT_EQ(tick()[3], "Share: NoradId?");
    station->FormClose();
    EXPECT_TRUE(server.received().empty());
    EXPECT_NE(test::readFile(work.path() / "RS232Settings.ini").find("NoradId=0\r\n"), std::string::npos)
        << "the section is left as the operator wrote it";
}

// The calendar moves on a second at each reading: parts of a beacon that read
// it apart would stamp it apart.
class DriftingClock final : public IClock {
public:
    std::atomic<std::int64_t> ms = utcMilliseconds({2024, 3, 2, 5, 14, 15, 7, 250});
    SystemTime utcNow() override { return utcFromMilliseconds(ms.fetch_add(1000)); }
    SystemTime localNow() override { return localTime(utcNow()); }
    SystemTime localTime(const SystemTime& utc) override {
        return utcFromMilliseconds(utcMilliseconds(utc) + 3'600'000);
    }
    std::uint32_t tickCount() override { return 0; }
};

// One receive time, read once, in the pane (local time), the BeaconTextLog,
// the RawFrameFile's name, the forwarded form and the trend sample.
TEST_F(StationShare, ABeaconCarriesOneReceiveTimeEverywhere) {
    DriftingClock drifting;
    clock = &drifting;
    start(share());
    const SystemTime at = utcFromMilliseconds(drifting.ms);  // the next reading
    receive(expected::firstBeacon(1500));
    ASSERT_TRUE(test::eventually([&] { return server.received().size() == 1; }, 10s));
    station->flushDisplay();
    station->FormClose();

    const SystemTime local = drifting.localTime(at);
    EXPECT_NE(view.decoded.find("Received:  " + formatDate(local) + " " + formatTime(local) + "\n"), std::string::npos)
        << view.decoded;
    const Archive& archive = station->TelemetryArchive();
    EXPECT_TRUE(
        test::readFile(archive.BeaconTextLogPath()).ends_with("\t" + formatDate(at) + "\t" + formatTime(at) + "\r\n"));
    EXPECT_EQ(fs::path(archive.LastRawFrameFilePath()).filename().string(), rawFrameFileName(at));
    EXPECT_EQ(server.received().front().fields.at("timestamp"), SidsTimestamp(at));
    EXPECT_EQ(view.beaconTimes, std::vector<SystemTime>{at});
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// A second program on the same station folder: it says so, keeps to files
// of its own and forwards its beacons through an outbox of its own; nothing
// is sent twice.
TEST_F(StationShare, ASecondProgramOnTheFolderSaysSoAndForwardsItsOwnBeacons) {
    std::vector<std::string> reports;
    SetReportPresenter([&](TMessageKind, const std::string& text) { reports.push_back(text); });
    start(share());
    StatusView secondView;
    test::FakeDeviceLog secondLog;
    secondLog.scriptedEvents = true;
    StationSeams seams;
    seams.device = std::make_unique<test::FakeComDevice>(secondLog);
    seams.mailbox = &mailbox;
    Station second(secondView, std::move(seams));
    second.FormCreate();
    second.continueReceive();
    SetReportPresenter(nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Another program is using the station folder " + fs::current_path().string() + ". "),
              std::string::npos)
        << reports[0];
    EXPECT_NE(reports[0].find("outbox-2.txt"), std::string::npos) << reports[0];
    EXPECT_NE(second.TelemetryArchive().RawByteLogPath(), station->TelemetryArchive().RawByteLogPath());

    const std::string first = expected::firstBeacon(1500), other = expected::firstBeacon(2600);
    secondLog.rx += other;
    second.CPortRxByte();
    receive(first);
    ASSERT_TRUE(test::eventually([&] { return server.taken().size() == 2; }, 10s));
    second.Timer1Timer();
    second.flushDisplay();
    EXPECT_TRUE(test::eventually([&] { return tick()[3] == "Shared 1"; }));
    EXPECT_TRUE(fs::exists(work.path() / "Telemetry" / "share" / "outbox-2.txt"));
    second.FormClose();
    station->FormClose();
    EXPECT_EQ(server.received().size(), 2u);
}

}  // namespace
}  // namespace kestrel
