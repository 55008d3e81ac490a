// The station engine's decisions, with a fake view, a fake serial device and a
// scratch working directory: start-up and shut-down, Clear, Settings, the
// receive loop and its display, the send pane and the test generator.
//
// In order: the fixture (scratch files, reports recorded); start-up; receiving
// and the display tick; the status bar's panels; faults ridden out (archive,
// lost port); shut-down; Clear and Settings; the send pane and the actions run
// by id; Memo1's changed lines; the close request; the test generator; KISS
// lines (serial and TCP).

#include "station/Station.h"

#include "support/ExpectedBeacon.h"
#include "support/FakeComDevice.h"
#include "support/FakeView.h"
#include "support/ForwardingFileSystem.h"
#include "support/TestMailbox.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "telemetry/InOutError.h"

#include "support/Beacons.h"
#ifndef _WIN32
#include "support/TcpListener.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    return lines;
}

// The real file system with the scratch directory as the current one.
class ScratchFileSystem : public test::ForwardingFileSystem {
public:
    explicit ScratchFileSystem(std::string dir) : dir_(std::move(dir)) {}
    std::string currentDirectory() override { return dir_; }
    void write(FileHandle f, const void* data, std::size_t size) override {
        writeSizes.push_back(size);
        if (size <= storeAtMost)
            return target_.write(f, data, size);
        target_.write(f, data, storeAtMost);
        EInOutError e = EInOutError::fromCode(kIoDiskFull);
        e.BytesWritten = std::exchange(storeAtMost, SIZE_MAX);
        throw e;
    }
    // Its failures are a full disk's: no room for a new piece either.
    std::optional<std::uint64_t> freeSpace(const std::string&) override { return 0; }
    std::vector<std::size_t> writeSizes;
    std::size_t storeAtMost = SIZE_MAX;  // the next longer write stores this much and fails

private:
    std::string dir_;
};

// The application's report, recorded: errors and plain messages apart.
struct Reports {
    Reports() {
        ReopenReports();
        SetReportPresenter([this](TMessageKind kind, const std::string& text) {
            (kind == TMessageKind::Error ? texts : messages).push_back(text);
        });
    }
    ~Reports() {
        SetReportPresenter(nullptr);
        ReopenReports();
    }
    std::vector<std::string> texts, messages;
};

class StationTest : public ::testing::Test {
protected:
    void SetUp() override { log.scriptedEvents = true; }

    void start(const std::string& port = "ttyTNC") {
        station.reset();
        if (!port.empty())
            test::writeFile(dir / "RS232Settings.ini", test::SettingsFor(port));
        StationSeams seams;
        seams.clock = &clock;
        seams.fileSystem = &files;
        seams.device = std::make_unique<test::FakeComDevice>(log);
        seams.mailbox = &mailbox;
        station = std::make_unique<Station>(view, std::move(seams));
        station->FormCreate();
    }

    // One receive event with these bytes waiting on the line.
    void receive(const std::string& bytes) {
        log.rx += bytes;
        station->CPortRxByte();
    }

    std::string rawLog() const { return test::readFile(station->archive().RawByteLogPath()); }

    test::ScratchDir dir;
    ScratchFileSystem files{dir.str()};
    test::FixedClock clock;
    test::FakeDeviceLog log;
    test::TestMailbox mailbox;
    test::FakeView view;
    Reports reports;
    std::unique_ptr<Station> station;
};

TEST_F(StationTest, StartUpLoadsTheSettingsOpensTheRunFilesThenThePort) {
    start("ttyTNC");
    EXPECT_EQ(log.calls.front(), "Open ttyTNC") << "the port opens with the loaded settings";
    EXPECT_TRUE(station->CPort.Connected());
    EXPECT_TRUE(station->archive().rawByteLogOpen());
    EXPECT_EQ(fs::path(station->archive().RawByteLogPath()).parent_path(), dir / "Telemetry" / "raw_log");
    EXPECT_EQ(station->settingsFilePath(), (dir / "RS232Settings.ini").string());
    EXPECT_FALSE(view.streamTimer);
    EXPECT_TRUE(reports.messages.empty());
}

TEST_F(StationTest, FirstStartWithoutSettingsUsesTheDesignAndStoresItAtShutDown) {
    start("");
    EXPECT_EQ(log.calls.front(), "Open COM4");
    EXPECT_EQ(log.lastLine.BaudRate, 9600u);
    EXPECT_EQ(log.lastLine.ByteSize, 8);
    EXPECT_EQ(log.lastLine.Parity, kParityNone);
    EXPECT_EQ(log.lastLine.StopBits, kOneStopBit);
    EXPECT_FALSE(fs::exists(dir / "RS232Settings.ini"));
    station->FormClose();
    EXPECT_EQ(test::readFile(dir / "RS232Settings.ini"), test::SettingsFor("COM4"));
}

TEST_F(StationTest, AFailingPortShowsOneMessageAndTheRunFilesStillOpen) {
    log.failures["Open"] = ENOENT;
    start();
    EXPECT_EQ(reports.messages, std::vector<std::string>{Station::kStartUpPortError});
    EXPECT_NE(view.said(1).find("ttyTNC: no such device"), std::string::npos)
        << "the box keeps its text; the reason goes to the port's panel: " << view.said(1);
    EXPECT_FALSE(station->CPort.Connected());
    EXPECT_TRUE(station->archive().rawByteLogOpen());
}

// A folder where nothing can be made is said once the window is up, with
// the folder and the system's reason; the designed boxes stay as they are.
TEST_F(StationTest, AFolderThatCannotBeWrittenIsSaidWithItsPathAndReasonAndThePortStillOpens) {
    Reports reports;
    test::writeFile(dir / "Telemetry", "a file where the folder must go");
    start();
    EXPECT_TRUE(reports.messages.empty());
    EXPECT_TRUE(station->CPort.Connected());
    EXPECT_FALSE(station->archive().rawByteLogOpen());
    station->continueReceive();
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(reports.texts[0].find("Nothing received is archived in " + (dir / "Telemetry").string() + " ("), 0u)
        << reports.texts[0];
    EXPECT_NE(reports.texts[0].find("start the program in a folder you can write to"), std::string::npos);
}

TEST_F(StationTest, ReceivedBytesAreArchivedAndAnalysedAtOnceAndPaintedAtTheDisplayTick) {
    start();
    const std::string frame = test::sampleBeacon(4242);
    receive(std::string("ab\r\n", 4));
    receive(frame.substr(0, 60));
    files.writeSizes.clear();
    receive(frame.substr(60));
    EXPECT_EQ(rawLog(), std::string("ab\r\n") + frame) << "the archive is complete up to the last byte";
    ASSERT_GE(files.writeSizes.size(), 2u);
    EXPECT_EQ(files.writeSizes.back(), kBeaconFrameSize + 1) << "the beacon's RawFrameFile last";
    EXPECT_GT(files.writeSizes.end()[-2], kBeaconFrameSize + 1) << "after its BeaconTextLog line";
    EXPECT_EQ(station->BeaconCounter(), 1);
    EXPECT_EQ(fs::directory_iterator(dir / "Telemetry" / "raw_data")->path().filename().string().substr(0, 8),
              "KR7_raw_");
    EXPECT_EQ(view.paints, 0) << "nothing painted per receive event";
    EXPECT_EQ(view.displayRequests, 1) << "one display tick while something waits";

    station->displayTick();
    EXPECT_EQ(view.text.substr(0, 5), "ab\nBb");
    EXPECT_EQ(view.hex.substr(0, 18), "61 62 0D 0A 42 62 ");
    EXPECT_EQ(view.status, "N=135");
    const auto decodedLines = std::count(view.decoded.begin(), view.decoded.end(), '\n') + 1;
    EXPECT_TRUE(decodedLines == 21 || decodedLines == 25) << decodedLines;
    EXPECT_EQ(view.paints, 4);

    station->displayTick();
    EXPECT_EQ(view.paints, 4) << "a tick with nothing new paints nothing";
    receive("z");
    EXPECT_EQ(view.displayRequests, 2);
    station->Timer1Timer();
    EXPECT_EQ(view.status, "N=1") << "the trim paints what waits first";
    EXPECT_EQ(view.trims, 1);
}

TEST_F(StationTest, ALongBurstIsHandledInSlicesAndNothingIsLost) {
    start();
    std::string burst;
    for (int i = 0; burst.size() < 600000; ++i)
        burst += (i % 50 == 0) ? test::sampleBeacon(static_cast<std::uint32_t>(i))
                               : std::string(97, static_cast<char>('a' + i % 26));
    clock.ticksPerRead = 1;
    receive(burst);
    ASSERT_EQ(view.continueRequests, 1) << "the slice ends and asks to go on";
    EXPECT_LT(rawLog().size(), burst.size());
    for (int guard = 0; view.continueRequests > guard && guard < 1000; ++guard)
        station->continueReceive();
    EXPECT_EQ(rawLog(), burst);
    station->displayTick();
    EXPECT_LE(view.text.size(), burst.size());
    EXPECT_EQ(view.text.back(), burst.back());
}

// The RawByteLog takes each read chunk in one write before any of its bytes
// is handled; what a short write missed is counted byte for byte.
// ---- The status bar: every source keeps a panel while one is free ----

// A value the program does not understand is said across the ticks beside
// the forwarding's count, until the operator sets the port up.
TEST_F(StationTest, ASettingsFallbackKeepsItsPanelBesideTheForwardingState) {
    std::string settings = test::SettingsFor("ttyTNC");
    settings.replace(settings.find("9600"), 4, "250000");
    // Forwarding that has nothing to send yet: no server needed.
    settings +=
        "[Share]\r\nUrl=http://127.0.0.1:9/\r\nNoradId=99999\r\nCallsign=N0CALL\r\n"
        "Latitude=49.7\r\nLongitude=8.9\r\n";
    test::writeFile(dir / "RS232Settings.ini", settings);
    start("");
    station->Timer1Timer();
    station->Timer1Timer();
    station->flushDisplay();
    EXPECT_EQ(view.panels[2], "Settings:...") << "cut after a whole word";
    EXPECT_NE(view.tips[2].find("BaudRate=250000"), std::string::npos) << view.tips[2];
    EXPECT_EQ(view.panels[3], "Shared 0");
    EXPECT_TRUE(reports.messages.empty());
    station->bSettingsClick([] {});
    station->flushDisplay();
    EXPECT_EQ(view.panels[2], "") << "the port is set up as the operator chose";
    EXPECT_EQ(view.panels[3], "Shared 0");
    station->FormClose();
}

// On a KISS line the frame count has the last panel; forwarding takes the
// nearest free one, a [Share] fault is cut at a word with its sentence in the
// tooltip, and archive trouble moves it on rather than hiding it.
TEST_F(StationTest, OnAKissLineForwardingHasAPanelOfItsOwn) {
    test::writeFile(dir / "RS232Settings.ini", test::SettingsFor("ttyTNC") +
                                                   "[Line]\r\nSource=Serial KISS\r\n"
                                                   "[Share]\r\nUrl=http://127.0.0.1:9/\r\nNoradId=0\r\n");
    start("");
    receive(EncodeKissDataFrame(test::ax25UiHeader() + test::escapedBeacon(1)));
    station->Timer1Timer();
    EXPECT_EQ(view.panels[3], "KISS 1/0");
    EXPECT_EQ(view.panels[2], "Share:...");
    EXPECT_NE(view.tips[2].find("NoradId must be a positive whole number"), std::string::npos) << view.tips[2];
    files.storeAtMost = 0;  // the next chunk is not archived
    receive(EncodeKissDataFrame(test::ax25UiHeader() + test::escapedBeacon(2)));
    station->Timer1Timer();
    EXPECT_EQ(view.said(2).substr(0, 8), "Unsaved ") << view.said(2);
    EXPECT_EQ(view.panels[1], "Share:...");
    EXPECT_EQ(view.panels[3], "KISS 2/0");
}

TEST_F(StationTest, TheRawByteLogTakesAReadChunkInOneWriteAndCountsWhatAShortOneMissed) {
    start();
    files.writeSizes.clear();  // the station log's first line
    const std::string chunk = "abc" + test::sampleBeacon(1);
    receive(chunk);
    ASSERT_FALSE(files.writeSizes.empty());
    EXPECT_EQ(files.writeSizes.front(), chunk.size()) << "before the beacon's own files";
    EXPECT_EQ(station->BeaconCounter(), 1);

    files.storeAtMost = 10;
    receive(std::string(50, 'n'));
    receive("tail");
    EXPECT_EQ(station->unarchivedBytes(), 40u);
    EXPECT_EQ(rawLog(), chunk + std::string(10, 'n') + "tail");
    EXPECT_EQ(reports.texts.size(), 1u);
}

// A RawByteLog and BeaconTextLog that cannot be written: every byte is still
// shown, analysed and decoded, each failure is reported once and counted, and
// the RawByteLog is made as soon as it can be.
TEST_F(StationTest, AFailingArchiveNeverStopsReception) {
    test::writeFile(dir / "Telemetry", "no folder here");
    start();
    const std::string bytes = "abc" + test::sampleBeacon(7) + "xyz";
    receive(bytes.substr(0, 50));
    receive(bytes.substr(50));
    station->displayTick();
    EXPECT_EQ(view.hex.size(), 3 * bytes.size());
    EXPECT_EQ(station->BeaconCounter(), 1);
    EXPECT_EQ(view.decoded.rfind("Received ZZ0KR beacon packets= 1\n", 0), 0u) << "shown, whatever the archive did";
    EXPECT_EQ(view.beaconTimes.size(), 1u) << "and its trend sample taken";
    EXPECT_EQ(station->finder().ReceiveBufferLength(), 3);
    EXPECT_EQ(reports.texts.size(), 1u) << "said at start-up; the losses after it are counted";
    EXPECT_EQ(station->unarchivedBytes(), bytes.size());
    EXPECT_EQ(view.said(2), "Unsaved " + std::to_string(bytes.size()) + " B, 1 bcn");

    fs::remove(dir / "Telemetry");
    station->Timer1Timer();
    station->Timer1Timer();
    ASSERT_TRUE(station->archive().rawByteLogOpen());
    receive("more");
    EXPECT_EQ(rawLog(), "more");
    EXPECT_EQ(reports.texts.size(), 1u);
}

// Every failure episode is said, on standard error and to every listener of
// the station's notices as it happens, and in a box once the box of the
// earlier one (the same text) is closed.
TEST_F(StationTest, ALaterFailureOfTheSameFileIsSaidAgain) {
    Reports reports;
    start();
    std::vector<std::string> noticed;
    station->notices().listen([&](const std::string& text) { noticed.push_back(text); });
    files.storeAtMost = 0;
    receive("lost");
    receive("kept");
    files.storeAtMost = 0;
    receive("lost again");
    ASSERT_EQ(noticed.size(), 2u);
    EXPECT_EQ(noticed[0], noticed[1]);
    EXPECT_EQ(noticed[0].find("RawByteLog " + (dir / "Telemetry" / "raw_log" / "log_raw_").string()), 0u) << noticed[0];
    EXPECT_NE(noticed[0].find("_UTC.KR7 not written: "), std::string::npos) << noticed[0];
    EXPECT_EQ(reports.texts.size(), 2u);
    EXPECT_EQ(rawLog(), "kept");
}

TEST_F(StationTest, ALostPortIsReportedOnceAndReopenedByItselfWithTheSameSettings) {
    log.wakeUps = {test::kHangUp};  // the adapter goes away right after the open
    start();
    ASSERT_TRUE(test::eventually([&] { return !station->CPort.EventThreadActive(); }));
    station->Timer1Timer();
    EXPECT_TRUE(station->portLost());
    EXPECT_FALSE(station->CPort.Connected()) << "the dead device is released at once";
    EXPECT_TRUE(reports.texts.empty()) << "a box opened by the tick would hold the tick up";
    ASSERT_EQ(view.continueRequests, 1);
    station->continueReceive();
    EXPECT_EQ(reports.texts.size(), 1u);
    station->displayTick();
    EXPECT_EQ(view.panels[1], "Port lost");

    log.failures["Open"] = ENOENT;  // not back yet: quiet retries every two ticks
    log.wakeUps.clear();
    for (int i = 0; i < 4; ++i)
        station->Timer1Timer();
    EXPECT_EQ(log.count("Open"), 3);
    station->bClearClick();  // Clear still works meanwhile
    EXPECT_EQ(view.clears, 1);

    log.failures.erase("Open");
    station->Timer1Timer();
    station->Timer1Timer();
    EXPECT_TRUE(station->CPort.Connected());
    EXPECT_FALSE(station->portLost());
    EXPECT_EQ(log.count("Open ttyTNC"), 4) << "the same port, with the same settings";
    EXPECT_EQ(log.lastLine.BaudRate, 9600u);
    receive("back");
    EXPECT_EQ(rawLog(), "back") << "into the same run's RawByteLog";
    station->displayTick();
    EXPECT_EQ(view.said(1), "Port back (lost 1)") << "the loss stays counted";
    EXPECT_EQ(reports.texts.size(), 1u);
}

// Windows: the event thread may go on waiting on a device that is gone; the
// tick asks the device itself, and a failing read counts as the loss.
TEST_F(StationTest, ADeviceThatNoLongerAnswersIsLostAtTheTickOrAtTheRead) {
    start();
    log.failures["Probe"] = 1167;
    station->Timer1Timer();
    EXPECT_TRUE(station->portLost());
    EXPECT_FALSE(station->CPort.Connected());

    log.failures.erase("Probe");
    station->Timer1Timer();
    station->Timer1Timer();
    ASSERT_TRUE(station->CPort.Connected()) << "back at the next retry";
    log.failures["Probe"] = 1167;
    log.failures["Read"] = 22;
    receive("x");
    EXPECT_TRUE(station->portLost()) << "a read that fails on a device gone";
    station->continueReceive();
    EXPECT_EQ(reports.texts.size(), 2u) << "one report per loss, none for the read";
}

// Bytes on the line that no receive event announced wait at most until the
// next tick; the shut-down takes them too.
TEST_F(StationTest, BytesNoEventAnnouncedAreTakenAtTheNextTick) {
    start();
    log.rx = "quiet";
    station->Timer1Timer();
    EXPECT_EQ(rawLog(), "quiet");
    EXPECT_TRUE(log.rx.empty());
}

TEST_F(StationTest, ShutDownTakesWhatIsQueuedAndThenHandlesNoMoreBytes) {
    start();
    log.rx = "late";
    station->FormClose();
    EXPECT_EQ(test::readFile(station->archive().RawByteLogPath()), "late");
    log.rx = "after";
    station->CPortRxByte();
    EXPECT_EQ(log.rx, "after") << "nothing is read once the logs are closed";
    EXPECT_TRUE(reports.texts.empty());
}

TEST_F(StationTest, ATickAfterShutDownCreatesAndReopensNothing) {
    test::writeFile(dir / "Telemetry", "no folder here");
    log.wakeUps = {test::kHangUp};
    start();
    ASSERT_TRUE(test::eventually([&] { return !station->CPort.EventThreadActive(); }));
    station->FormClose();
    fs::remove(dir / "Telemetry");
    const int opens = log.count("Open");
    for (int i = 0; i < 2 * Station::kRetryTicks; ++i)
        station->Timer1Timer();
    EXPECT_FALSE(fs::exists(dir / "Telemetry"));
    EXPECT_EQ(log.count("Open"), opens);
}

TEST_F(StationTest, ClearPurgesEmptiesThePanesAndTheBufferButKeepsTheStatus) {
    start();
    receive(test::sampleBeacon(1) + "0123456789");
    station->bClearClick();
    EXPECT_EQ(log.calls.back(), "Purge " + std::to_string(kPurgeTxClear | kPurgeRxClear));
    EXPECT_EQ(view.clears, 1);
    EXPECT_TRUE(view.text.empty() && view.hex.empty() && view.decoded.empty());
    EXPECT_EQ(view.status, "N=10");
    EXPECT_EQ(station->finder().ReceiveBufferLength(), 0);
    receive("A");
    station->displayTick();
    EXPECT_EQ(view.text, "A");
    EXPECT_EQ(view.status, "N=1");

    station->CPort.ClosePort();
    EXPECT_THROW(station->bClearClick(), EComPort);
    EXPECT_EQ(view.clears, 1) << "with the port closed nothing is cleared";
}

TEST_F(StationTest, SettingsClosesThePortAroundTheDialogAndReportsAPortThatFails) {
    start();
    station->aM4Execute();
    ASSERT_TRUE(view.streamTimer);
    station->settingsBeforeDialog();
    EXPECT_FALSE(view.streamTimer) << "Settings switches the generator off";
    EXPECT_FALSE(station->CPort.Connected());
    station->settingsAfterDialog();
    EXPECT_TRUE(station->CPort.Connected());
    EXPECT_TRUE(reports.messages.empty());

    station->settingsBeforeDialog();
    log.failures["Open"] = ENOENT;
    station->settingsAfterDialog();
    EXPECT_EQ(reports.messages, std::vector<std::string>{Station::kSettingsPortError});
    EXPECT_FALSE(station->CPort.Connected());
    EXPECT_FALSE(view.panels[1].empty());

    station->settingsBeforeDialog();
    log.failures.clear();
    station->settingsAfterDialog();
    EXPECT_TRUE(station->CPort.Connected());
    station->flushDisplay();
    EXPECT_EQ(view.panels[1], "") << "the reason goes when the port opens";
}

// What a box shows, and what only standard error said (a fallback, the
// port's reason), is in the station log too, each with its time.
TEST_F(StationTest, EveryNoticeIsAlsoWrittenToTheStationLog) {
    Reports reports;
    log.failures["Open"] = ENOENT;
    std::string settings = test::SettingsFor("ttyTNC");
    settings.replace(settings.find("9600"), 4, "250000");
    test::writeFile(dir / "RS232Settings.ini", settings);
    start("");
    Guarded([] { throw std::runtime_error("A handler failed"); });
    station->FormClose();
    const std::string text = test::readFile(dir / StationLog::kFileName);
    for (const char* said : {"BaudRate=250000", "ttyTNC: no such device", "A handler failed."})
        EXPECT_NE(text.find(said), std::string::npos) << said << " not in:\n" << text;
    EXPECT_EQ(text.find(" UTC  A handler failed.\r\n"), text.rfind(" UTC  A handler failed.")) << "once";
}

// A failure at the last shut-down stands in a free panel at the next start
// until the operator clicks it, or until the first tick after a minute.
TEST_F(StationTest, AShutDownFailureIsShownAtTheNextStartUntilClickedOrAMinuteHasPassed) {
    const auto failingClose = [&] {
        fs::remove(dir / "RS232Settings.ini");
        fs::create_directory(dir / "RS232Settings.ini");
        station->FormClose();
        fs::remove(dir / "RS232Settings.ini");
    };
    start();
    failingClose();
    // The file and the reason, in words.
    const std::string said = "storing the settings in " + (dir / "RS232Settings.ini").string() +
                             " failed at shut-down: Failed to store settings (the file is not a regular file)";
    EXPECT_NE(test::readFile(dir / StationLog::kFileName).find(said), std::string::npos)
        << test::readFile(dir / StationLog::kFileName);

    start();
    station->flushDisplay();
    const auto shownIn = [&]() -> int {
        for (int p = 1; p <= 3; ++p)
            if (view.panels[std::size_t(p)] == Station::kLastExitText)
                return p;
        return 0;
    };
    const int panel = shownIn();
    ASSERT_NE(panel, 0);
    EXPECT_NE(view.tips[std::size_t(panel)].find(said), std::string::npos) << view.tips[std::size_t(panel)];
    station->statusPanelClicked(panel == 1 ? 2 : 1);
    EXPECT_EQ(shownIn(), panel) << "a click elsewhere leaves it";
    station->statusPanelClicked(panel);
    EXPECT_EQ(shownIn(), 0);
    failingClose();

    start();
    station->flushDisplay();
    EXPECT_NE(shownIn(), 0);
    clock.ticks += Station::kLastExitShownMs - 1000;
    station->Timer1Timer();
    station->flushDisplay();
    EXPECT_NE(shownIn(), 0);
    clock.ticks += 1000;
    station->Timer1Timer();
    station->flushDisplay();
    EXPECT_EQ(shownIn(), 0);
    station->FormClose();

    start();
    station->flushDisplay();
    EXPECT_EQ(shownIn(), 0) << "a clean shut-down leaves nothing to show";
}

TEST_F(StationTest, ShutDownClosesLogAndPortEvenWhenTheSettingsCannotBeStored) {
    start();
    receive("xyz");
    fs::remove(dir / "RS232Settings.ini");
    fs::create_directory(dir / "RS232Settings.ini");
    station->FormClose();
    EXPECT_TRUE(station->closed());
    EXPECT_FALSE(station->archive().rawByteLogOpen());
    EXPECT_FALSE(station->CPort.Connected()) << "a failed store no longer skips the close";
    station->FormClose();
    EXPECT_EQ(log.count("Open"), 1);
}

// One rule for both windows: every key that types a character goes out as a
// terminal sends it, the pane edits with it as usual (Delete types nothing,
// so it only deletes; a Tab the engine types in, as the pane would move on),
// and a character the line cannot carry as one byte is neither sent nor
// shown; nor is a key whose write fails, which is reported.
TEST_F(StationTest, KeysInTheSendPaneGoOutAsATerminalSendsThem) {
    start();
    struct Case {
        PaneKey key;
        char32_t character;
        bool paneHandles;
    };
    const Case cases[] = {
        {PaneKey::Tab, U'\t', false},        {PaneKey::Delete, 0x7F, true},
        {PaneKey::Backspace, U'\b', true},   {PaneKey::Escape, 0x1B, false},
        {PaneKey::Enter, U'\r', true},       {PaneKey::Character, 0x07, true},
        {PaneKey::Character, U'A', true},    {PaneKey::Character, 0xE9, true},
        {PaneKey::Character, 0x20AC, false},  // the euro sign: not one byte
    };
    for (const Case& c : cases)
        EXPECT_EQ(station->MemoTXKey(c.key, c.character), c.paneHandles) << int(c.character);
    EXPECT_EQ(log.written, "\t\b\x1B\r\aA\xE9");
    EXPECT_EQ(view.sendPane, "\t");
    EXPECT_EQ(view.beeps, 1);
    for (const Case& c : cases)
        EXPECT_TRUE(c.key == PaneKey::Character || PaneKeyOfCharacter(c.character) == c.key)
            << int(c.character) << ": a window that sees only the character";

    station->CPort.ClosePort();
    EXPECT_FALSE(station->MemoTXKey(PaneKey::Character, U'A'));
    EXPECT_FALSE(station->MemoTXKey(PaneKey::Tab, U'\t'));
    EXPECT_EQ(reports.texts.size(), 2u);
    EXPECT_EQ(view.sendPane, "\t");
}

TEST_F(StationTest, TypedKeysAndF9GoOutAsTheTncExpectsThem) {
    start();
    for (char key : std::string("AT\r"))
        station->MemoTXKey(PaneKeyOfCharacter(char32_t(key)), char32_t(key));
    view.sendPane = "AT\n";
    station->runAction(design::aTNCSend);
    view.sendPane.clear();
    station->runAction(design::aTNCSend);
    EXPECT_EQ(log.written, "AT\rAT\r\n\r\r");

    station->CPort.ClosePort();
    EXPECT_THROW(station->runAction(design::aTNCSend), EComPort);
}

// Each action of the window's design, run by its id as both windows' shortcut
// tables run it, does its own work on the latest beacon or byte.
TEST_F(StationTest, EveryActionRunsByItsId) {
    test::writeFile(dir / "RS232Settings.ini", test::SettingsFor("ttyTNC") +
                                                   "[Share]\r\nUrl=http://127.0.0.1:9/\r\nNoradId=99999\r\n"
                                                   "Callsign=N0CALL\r\nLatitude=49.5\r\nLongitude=8.25\r\n");
    start("");
    receive(test::sampleBeacon(1000) + "xy");
    const fs::path decoded = test::filesIn(dir / "Telemetry" / "Decoded").at(0);
    const auto rawFrames = [&] { return test::filesIn(dir / "Telemetry" / "raw_data").size(); };
    const auto logLines = [&] {
        const std::string t = test::readFile(decoded);
        return std::count(t.begin(), t.end(), '\n');
    };
    const auto expectations = std::map<design::ActionId, std::function<void()>>{
        {design::aInit, [&] { EXPECT_EQ(station->generator().HeaderValue, kTestFrameHeader); }},
        {design::aFillBuffer, [&] { EXPECT_EQ(station->generator().TestFrame.size(), kBeaconFrameSize); }},
        {design::aRXBufferInit, [&] { EXPECT_EQ(station->finder().ReceiveBufferLength(), 0); }},
        {design::aRXBufferAnalyse2, [&] { EXPECT_EQ(station->finder().ReceiveBufferLength(), 1) << "the 'y' again"; }},
        {design::aDecodeTelemetry1,
         [&] {
             EXPECT_EQ(station->BeaconCounter(), 2);
             EXPECT_EQ(rawFrames(), 2u) << "and stored it";
         }},
        {design::aSaveTempFile, [&] { EXPECT_EQ(logLines(), 4 + 3) << "the header and the beacon three times"; }},
        {design::aM4, [&] { EXPECT_TRUE(view.streamTimer); }},
        {design::aTest, [&] { EXPECT_EQ(log.written.size(), kBeaconFrameSize); }},
        {design::aSaveBinFile, [&] { EXPECT_EQ(rawFrames(), 3u); }},
        {design::aTNCSend, [&] { EXPECT_EQ(log.written.substr(kBeaconFrameSize), "\r"); }},
        {design::aTrends,
         [&] {
             ASSERT_EQ(view.trendsShown.size(), 1u);
             ASSERT_TRUE(view.trendsShown[0]);
             EXPECT_EQ(view.trendsShown[0]->latitude, 49.5);
             EXPECT_EQ(view.trendsShown[0]->longitude, 8.25);
             ASSERT_EQ(view.earlierBeacons.size(), 1u) << "the station's earlier runs, beside this one's";
             EXPECT_EQ(view.earlierBeacons[0].second, station->archive().BeaconTextLogPath());
         }},
        {design::aStation, [&] { EXPECT_EQ(view.stationDialogs.size(), 1u); }},
    };
    ASSERT_EQ(expectations.size(), design::kActions.size());
    for (const design::Action& a : design::kActions) {
        station->runAction(a.id);
        expectations.at(a.id)();
    }
    EXPECT_THROW(station->runAction(design::kActionCount), std::invalid_argument);
    station->FormClose();
}

// Memo1 gets only the lines that changed, whatever the operator typed into
// it, and the lines a beacon has beyond the last one's (GPS on) come and go.
TEST_F(StationTest, TheDecodedPaneGetsOnlyTheLinesThatChanged) {
    start();
    receive(test::sampleBeacon(1000));
    station->displayTick();
    ASSERT_EQ(view.edits.size(), 1u) << "an empty pane takes the whole text";
    const std::string first = view.decoded;

    BeaconRecord r;
    r.setMilliseconds(2000);
    r.setFlightTime(2);
    r.setVbat(6850);
    r.setIsys(200);
    r.setGpsOn(1);
    view.edits.clear();
    receive(buildBeaconFrame(135, r));
    station->displayTick();
    const std::vector<std::string> second = LinesOf(view.decoded);
    EXPECT_GT(second.size(), LinesOf(first).size());
    std::size_t linesEdited = 0;
    for (const DecodedEdit& e : view.edits)
        linesEdited += std::size_t(e.lineCount);
    EXPECT_LT(linesEdited, 8u) << "the count, the time, the flight time and the GPS lines";
    for (std::size_t i = 1; i < view.edits.size(); ++i)
        EXPECT_LT(view.edits[i].at, view.edits[i - 1].at) << "the last run first";

    // The operator typed a line into the pane; the next beacon (GPS off) puts
    // the decoder's lines back, and only those.
    view.decoded.insert(0, "typed\n");
    view.edits.clear();
    receive(test::sampleBeacon(3000));
    station->displayTick();
    EXPECT_EQ(LinesOf(view.decoded).size(), LinesOf(first).size());
    EXPECT_EQ(view.decoded.find("typed"), std::string::npos);
    EXPECT_EQ(view.decoded.substr(view.decoded.find("Vbat")), first.substr(first.find("Vbat")));

    station->bClearClick();
    view.edits.clear();
    receive(test::sampleBeacon(4000));
    station->displayTick();
    EXPECT_EQ(view.edits.size(), 1u) << "after Clear the whole text again";
}

// A close request wins over every report; with a box up the box goes first
// and shut-down waits for the request that comes once it has returned.
TEST_F(StationTest, ACloseRequestWaitsForTheBoxesToGoAndOpensNoOther) {
    start();
    view.modalsUp = 1;
    EXPECT_FALSE(station->closeRequested());
    EXPECT_EQ(view.dismissals, 1);
    EXPECT_FALSE(station->closed());
    ShowException("raised after the close request");
    EXPECT_TRUE(reports.texts.empty());

    view.modalsUp = 0;
    EXPECT_TRUE(station->closeRequested());
    EXPECT_TRUE(station->closed());
    EXPECT_FALSE(station->CPort.Connected());
    EXPECT_TRUE(fs::exists(dir / "RS232Settings.ini"));
}

TEST_F(StationTest, CtrlTSendsAFreshBeaconAndTheStreamFollowsTheSequence) {
    clock.ticks = 1500;
    start();
    station->aTestExecute();
    EXPECT_EQ(log.written, expected::firstBeacon(1500));

    // A fresh engine, so the stream starts from the sequence's beginning.
    start();
    log.written.clear();
    station->aM4Execute();
    EXPECT_TRUE(view.streamTimer);
    for (int i = 0; i < 12; ++i)
        station->TimerXTimer();
    ASSERT_EQ(log.written.size(), 12u);
    for (std::size_t k = 0; k < 12; ++k)
        EXPECT_EQ(static_cast<std::uint8_t>(log.written[k]), expected::streamByte(k)) << k;
    station->aM4Execute();
    EXPECT_FALSE(view.streamTimer);

    station->CPort.ClosePort();
    EXPECT_THROW(station->aTestExecute(), EComPort);
    EXPECT_NO_THROW(station->TimerXTimer()) << "the stream fails silently";
}

// A KISS TNC on the serial port: the line's bytes are shown and archived as
// they came, the frame finder sees the frames' contents (escaped bytes and
// all), and what is sent goes out as KISS data frames.
TEST_F(StationTest, ASerialKissLineIsDeframedAndAnsweredInKissFrames) {
    test::writeFile(dir / "RS232Settings.ini", test::SettingsFor("ttyTNC") + "[Line]\r\nSource=Serial KISS\r\n");
    start("");
    const std::string beacon = test::escapedBeacon(7);
    const std::string line = "noise" + EncodeKissDataFrame(test::ax25UiHeader() + beacon);
    ASSERT_GT(line.size(), 5 + 2 + 16 + beacon.size() + 2) << "the beacon holds bytes KISS escapes";
    receive(line.substr(0, 70));
    receive(line.substr(70));
    EXPECT_EQ(rawLog(), line);
    EXPECT_EQ(station->BeaconCounter(), 1);
    const auto frames = test::filesIn(dir.path() / "Telemetry" / "raw_data");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(test::readFile(frames[0]), beacon + '\0');
    station->displayTick();
    EXPECT_EQ(view.hex.size(), 3 * line.size());
    EXPECT_EQ(view.panels[3], "KISS 1/0");

    station->MemoTXKey(PaneKey::Character, U'A');
    station->aTestExecute();
    EXPECT_EQ(log.written, EncodeKissDataFrame("A") + EncodeKissDataFrame(station->generator().TestFrame));
}

#ifndef _WIN32
TEST_F(StationTest, AKissTcpTncIsReachedByItselfAndAgainAfterItWentAway) {
    test::Listener tnc;
    test::writeFile(dir / "RS232Settings.ini", test::SettingsFor("ttyTNC") + "[Line]\r\nSource=KISS TCP\r\nTcpPort=" +
                                                   std::to_string(tnc.port()) + "\r\n");
    start("");
    EXPECT_EQ(log.count("Open"), 0) << "the serial port stays closed";
    EXPECT_TRUE(reports.messages.empty());
    ASSERT_TRUE(test::eventually(mailbox, [&] { return tnc.accept(); }));

    const std::string beacon = test::escapedBeacon(9);
    const std::string line = EncodeKissDataFrame(test::ax25UiHeader() + beacon);
    tnc.send(line);
    ASSERT_TRUE(test::eventually(mailbox, [&] { return station->BeaconCounter() == 1; }));
    EXPECT_EQ(rawLog(), line);

    station->aTestExecute();
    std::string sent;
    ASSERT_TRUE(test::eventually(mailbox, [&] {
        sent += tnc.receiveSome();
        return sent == EncodeKissDataFrame(station->generator().TestFrame);
    }));

    tnc.dropClient();
    ASSERT_TRUE(test::eventually(mailbox, [&] {
        station->displayTick();
        return view.panels[1] == "TNC lost";
    }));
    station->continueReceive();
    EXPECT_EQ(reports.texts.size(), 1u);
    ASSERT_TRUE(test::eventually(
        mailbox, [&] { return tnc.accept(); }, std::chrono::seconds(8)));
    station->FormClose();
    EXPECT_NE(test::readFile(dir.path() / "RS232Settings.ini").find("Source=KISS TCP"), std::string::npos);
}
#endif

}  // namespace
}  // namespace kestrel
