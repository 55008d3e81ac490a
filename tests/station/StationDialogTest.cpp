// The station dialog's rules and the engine's side of it: what the form may
// hold, that OK writes only the dialog's keys, and that the line and the
// forwarding it names are in use at once.

#include "station/Station.h"
#include "station/StationDialog.h"

#include "support/FakeComDevice.h"
#include "support/FakeView.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/ForwardingFileSystem.h"
#include "support/TestMailbox.h"
#ifndef _WIN32
#include "support/TcpListener.h"
#endif

#include <gtest/gtest.h>

namespace kestrel {
namespace {

StationForm Sharing() {
    StationForm f;
    f.port = "COM3";
    f.host = "127.0.0.1";
    f.tcpPort = "8001";
    f.url = "https://db.example.org/api/telemetry/";
    f.noradId = "12345";
    f.callsign = "DL1ABC";
    f.latitude = "50.1";
    f.longitude = "-8.2";
    return f;
}

TEST(StationForm, TheSettingsFilesRulesAndNoPlaceholders) {
    EXPECT_FALSE(CheckStationForm(Sharing()));
    StationForm off = Sharing();
    off.url.clear();
    off.noradId = "many";
    EXPECT_FALSE(CheckStationForm(off)) << "an empty Url forwards nothing and asks for nothing";

    const std::pair<std::function<void(StationForm&)>, StationField> faults[] = {
        {[](StationForm& f) { f.port.clear(); }, StationField::Port},
        {[](StationForm& f) { f.source = LineSourceSettings::KissTcp, f.host.clear(); }, StationField::Host},
        {[](StationForm& f) { f.source = LineSourceSettings::KissTcp, f.tcpPort = "65536"; }, StationField::TcpPort},
        {[](StationForm& f) { f.url = "ftp://db.example.org/"; }, StationField::Url},
        {[](StationForm& f) { f.noradId = "+5"; }, StationField::NoradId},
        {[](StationForm& f) { f.longitude = "east"; }, StationField::Longitude},
        {[](StationForm& f) { f.callsign = "n0call"; }, StationField::Callsign},
        {[](StationForm& f) { f.noradId = "99999"; }, StationField::NoradId},
        {[](StationForm& f) { f.latitude = "49.73145", f.longitude = "8.95564"; }, StationField::Latitude},
    };
    for (const auto& [spoil, field] : faults) {
        StationForm f = Sharing();
        spoil(f);
        const StationFormProblem p = CheckStationForm(f);
        EXPECT_EQ(p.field, field) << p.text;
        EXPECT_FALSE(p.text.empty());
    }
    StationForm bad = Sharing();
    bad.noradId = "0x1869F";
    EXPECT_EQ(CheckStationForm(bad).text, "NoradId must be a positive whole number (digits only)")
        << "the settings file's sentence";
}

// The real file system with the scratch directory as the current one.
struct ScratchFiles : test::ForwardingFileSystem {
    explicit ScratchFiles(std::string dir) : dir(std::move(dir)) {}
    std::string currentDirectory() override { return dir; }
    std::string dir;
};

class StationDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        log.scriptedEvents = true;
        ReopenReports();
        SetReportPresenter([this](TMessageKind, const std::string& text) { reports.push_back(text); });
    }
    void TearDown() override {
        station.reset();
        SetReportPresenter(nullptr);
    }
    void start(const std::string& settings) {
        test::writeFile(dir / "RS232Settings.ini", settings);
        StationSeams seams;
        seams.clock = &clock;
        seams.fileSystem = &files;
        seams.device = std::make_unique<test::FakeComDevice>(log);
        seams.mailbox = &mailbox;
        station = std::make_unique<Station>(view, std::move(seams));
        station->FormCreate();
    }
    std::string ini() const { return test::readFile(dir / "RS232Settings.ini"); }

    test::ScratchDir dir;
    ScratchFiles files{dir.str()};
    test::FixedClock clock;
    test::FakeDeviceLog log;
    test::TestMailbox mailbox;
    test::FakeView view;
    std::vector<std::string> reports;
    std::unique_ptr<Station> station;
};

// F3 opens on what is in use, and tells why the port failed; a refused form
// changes nothing.
TEST_F(StationDialogTest, OpensOnTheSettingsInUseAndARefusedFormChangesNothing) {
    log.failures["Open"] = ENOENT;
    const std::string settings = test::SettingsFor("ttyTNC") + "[Share]\r\nNoradId=12345\r\nCallsign=DL1ABC\r\n";
    start(settings);
    station->runAction(design::aStation);
    ASSERT_EQ(view.stationDialogs.size(), 1u);
    const StationDialogModel& model = view.stationDialogs[0];
    EXPECT_EQ(model.form.port, "ttyTNC");
    EXPECT_EQ(model.form.source, LineSourceSettings::Serial);
    EXPECT_EQ(model.form.noradId, "12345");
    EXPECT_EQ(model.form.url, "");
    EXPECT_EQ(model.folder, dir.str());
    EXPECT_NE(model.notice.find("ttyTNC"), std::string::npos) << "why the port failed, in sight";

    StationForm form = model.form;
    form.url = "https://db.example.org/api/telemetry/";  // without a position
    EXPECT_EQ(model.apply(form).field, StationField::Latitude);
    EXPECT_EQ(ini(), settings);
}

#ifndef _WIN32
// OK writes only the dialog's keys and puts the KISS TCP line and the
// forwarding in use at once; the plain serial line again after it.
TEST_F(StationDialogTest, OkPutsTheLineAndTheSharingInUseAndKeepsTheRestOfTheFile) {
    test::Listener tnc;
    const std::string ca = "CaFile=" + (dir / "team.pem").string() + "\r\n";
    test::writeFile(dir / "team.pem", "");
    start("; my station\r\n" + test::SettingsFor("ttyTNC") + "[Share]\r\n" + ca + "[Other]\r\nKey=1\r\n");
    station->runAction(design::aStation);
    StationForm form = Sharing();
    form.port = "ttyTNC";
    form.source = LineSourceSettings::KissTcp;
    form.tcpPort = std::to_string(tnc.port());
    EXPECT_FALSE(view.stationDialogs.at(0).apply(form));

    ASSERT_TRUE(test::eventually(mailbox, [&] { return tnc.accept(); })) << "the TNC reached at once";
    EXPECT_EQ(station->LineSource().kind, LineSourceSettings::KissTcp);
    EXPECT_TRUE(station->SharingSettings().enabled()) << station->SharingSettings().problem;
    EXPECT_EQ(station->SharingSettings().callsign, "DL1ABC");
    const std::string written = ini();
    for (const std::string& kept :
         {std::string("; my station\r\n"), std::string("BaudRate=9600\r\n"), ca, std::string("[Other]\r\nKey=1\r\n")})
        EXPECT_NE(written.find(kept), std::string::npos) << kept << " in\n" << written;
    EXPECT_NE(written.find("Source=KISS TCP\r\nHost=127.0.0.1\r\nTcpPort=" + form.tcpPort), std::string::npos);
    EXPECT_NE(written.find("Url=https://db.example.org/api/telemetry/\r\nNoradId=12345\r\nCallsign=DL1ABC"),
              std::string::npos);

    const int opened = log.count("Open");
    form.source = LineSourceSettings::Serial;
    form.url.clear();  // forwarding off
    EXPECT_FALSE(view.stationDialogs.at(0).apply(form));
    EXPECT_EQ(log.count("Open"), opened + 1) << "the serial port open again";
    EXPECT_FALSE(station->SharingSettings().enabled());
    EXPECT_TRUE(station->SharingSettings().problem.empty());
    station->FormClose();
    EXPECT_NE(ini().find("Source=Serial\r\n"), std::string::npos);
    EXPECT_TRUE(reports.empty()) << reports.front();
}
#endif

}  // namespace
}  // namespace kestrel
