// The station engine forwarding what it decodes: which bytes go, which status
// panel says how it stands, and that a faulty [Share] never stops reception.
#include "station/Station.h"

#include "share/SidsForm.h"
#include "support/ExpectedBeacon.h"
#include "support/FakeComDevice.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/SidsServer.h"
#include "support/TestMailbox.h"

#include "support/Beacons.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// A window that only keeps its status bar.
struct StatusView : IStationView {
    std::array<std::string, 4> panels;
    void appendReceived(RxPane, std::string_view) override {}
    void showStatus(int panel, std::string_view t, std::string_view) override { panels[std::size_t(panel)] = t; }
    bool statusTextFits(std::string_view) override { return true; }
    void showDecodedText(std::string_view) override {}
    void clearPanes() override {}
    void trimPanes() override {}
    void showMessage(const std::string&) override {}
    void setStreamTimer(bool) override {}
    void continueSoon() override {}
    void displaySoon() override {}
    void beep() override {}
};

class StationShare : public ::testing::Test {
protected:
    void start(const std::string& sections) {
        log.scriptedEvents = true;  // the port opens with an event thread that waits
        test::writeFile(work.path() / "RS232Settings.ini", test::SettingsFor("ttyTNC") + sections);
        StationSeams seams;
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

}  // namespace
}  // namespace kestrel
