// The Windows program's own window under Wine on a virtual display: what the
// Win32 front end adds to the engine (whose policy the station tests cover).
// Keys and clicks go in through xdotool; the line is COM7, a pseudo-terminal
// whose other end the test holds, or a KISS TCP port the test listens on.
//
// In order: the fixture (the program under Wine on COM7, xdotool, archive
// checks); receiving and closing; keys and shortcuts; the receive panes'
// editing and copying; the setup dialog; the start-up message and closing
// with boxes up; an unplugged port; KISS lines; forwarding; the trend window
// and kestrel-trends.exe's pictures.

#include "SimPort.h"
#include "Version.h"
#include "support/Beacons.h"
#include "support/Child.h"
#include "support/TcpListener.h"
#include "kiss/KissDeframer.h"
#include "share/SidsForm.h"
#include "support/Eventually.h"
#include "support/Pty.h"
#include "support/SidsServer.h"
#include "support/StreamCheck.h"
#include "support/PictureCompare.h"
#include "support/TrendSample.h"
#include "support/WineSupport.h"
#include "station/WindowDesign.h"
#include "plot/TrendDesign.h"
#include "plot/TrendFiles.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/Decoder.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace kestrel::test {
namespace {

// The middle of a control as the window's design places it (96 dpi, as Wine
// runs): clicks there reach it only where the window built it by the design.
std::string Middle(design::ControlId id) {
    const design::Rect r = design::InWindow(design::LayoutWindow(design::kClientWidth, design::kClientHeight), id);
    return std::to_string(r.left + r.width / 2) + " " + std::to_string(r.top + r.height / 2);
}
const std::string kSettingsButton = Middle(design::bSettings);
const std::string kSendPane = Middle(design::MemoTX);
const std::string kDecodedPane = Middle(design::Memo1);
const std::string kTextPane = Middle(design::MemoRX);
const std::string kHexPane = Middle(design::MEMORXHEX);

// A pane's text as the receive panes show bytes: a line break for CR, two
// hex digits and a blank for each byte.
std::string Shown(const std::string& bytes, bool hex) {
    std::string s;
    for (char c : bytes) {
        static const char kDigits[] = "0123456789ABCDEF";
        const auto b = static_cast<unsigned char>(c);
        s += hex ? std::string{kDigits[b >> 4], kDigits[b & 15], ' '} : std::string(1, c == '\r' ? '\n' : c);
    }
    return s;
}

// The lines of a copy of the text pane that a writer numbered ("S00042"),
// without the heading and a line still coming in.
std::vector<int> NumberedLines(const std::string& copy) {
    std::vector<int> numbers;
    std::istringstream lines(copy);
    for (std::string line; std::getline(lines, line);)
        if (line.size() == 6 && line[0] == 'S')
            numbers.push_back(std::stoi(line.substr(1)));
    return numbers;
}

const char kOtherSection[] = "[Station]\r\nCallsign=KR7TEST\r\n";

// What the system and a screen reader see of a window of the program under
// Wine: win32_probe.exe's lines (tree, focus, lines; see tests/win32/Win32Probe.cpp).
std::vector<std::string> probe(const std::string& command, const std::string& caption, const std::string& more = "") {
    const auto line = WineLine::fromEnvironment();
    const fs::path exe = fs::path(line->exe).parent_path() / "tests" / "win32_probe.exe";
    std::vector<std::string> lines;
    std::istringstream out(
        shell("wine '" + exe.string() + "' " + command + " '" + caption + "' " + more + " 2>/dev/null | tr -d '\r'"));
    for (std::string l; std::getline(out, l);)
        lines.push_back(l);
    return lines;
}

// The probe's tree lines of a window class: "class\tid\tname\trole\tvalue\ttext".
std::vector<std::vector<std::string>> windowsOf(const std::vector<std::string>& tree, const std::string& cls) {
    std::vector<std::vector<std::string>> found;
    for (const std::string& l : tree) {
        std::vector<std::string> fields;
        std::istringstream in(l);
        for (std::string f; std::getline(in, f, '\t');)
            fields.push_back(f);
        if (!fields.empty() && fields[0] == cls)
            found.push_back(fields);
    }
    return found;
}

class WineWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const auto line = WineLine::fromEnvironment();
        ASSERT_TRUE(line) << "run through scripts/test-stages/31-windows-gui.sh";
        line_ = *line;
        work_ = scratch_ / "station";
        fs::create_directories(work_);
        peer_ = openAsDecoder(line_.peerPath);
        ASSERT_GE(peer_, 0);
        drain();  // what an earlier run left on the line
    }
    void TearDown() override {
        if (program_ && program_->running())
            program_->close();
        if (peer_ >= 0)
            ::close(peer_);
    }

    // line: a [Line] section, when the program is to read KISS.
    void start(const std::string& port = "COM7", const std::string& line = "") {
        std::ofstream(work_ / "RS232Settings.ini", std::ios::binary)
            << "[CPort]\r\nPort=" << port << "\r\nBaudRate=256000\r\n"
            << kOtherSection << line;
        program_ = std::make_unique<WineProgram>(line_, work_);
        window_ = program_->waitForMainWindow();
        ASSERT_FALSE(window_.empty()) << program_->output();
    }
    // Reads until the line has been quiet for a moment.
    void drain() {
        for (pollfd p{peer_, POLLIN, 0}; poll(&p, 1, 300) > 0;) {
            char buf[4096];
            if (::read(peer_, buf, sizeof buf) <= 0)
                break;
        }
    }
    // Activates a message box and presses its default button.
    static void dismiss(const std::string& box) {
        shell("xdotool mousemove --window " + box + " 30 20 click 1");
        key("Return");
    }
    void click(const std::string& where) { shell("xdotool mousemove --window " + window_ + " " + where + " click 1"); }
    static void key(const std::string& keys) { shell("xdotool key --delay 50 " + keys); }
    std::string received(std::size_t want) { return readFor(peer_, want, std::chrono::seconds(5)); }
    // Ctrl+A, Ctrl+C in the control that has the focus; the clipboard as X
    // sees it (Wine hands it on), without carriage returns.
    static std::string copied() {
        key("ctrl+a ctrl+c");
        std::this_thread::sleep_for(150ms);  // the program takes the keys in its own time
        std::string text = shell("xclip -o -selection clipboard 2>/dev/null; echo .");  // keeps a last line break
        text.pop_back();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        for (const std::string heading : {"TNC RX\n", "TNC RX HEX\n"})
            if (text.starts_with(heading))
                text.erase(0, heading.size());
        return text;
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(::write(peer_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Shut-down as the system asks for it; the settings file it leaves.
    std::string closeProgram() {
        EXPECT_EQ(program_->close(), 0) << program_->output();
        return readFile(work_ / "RS232Settings.ini");
    }
    // Each look runs xdotool: one every 50 ms.
    static bool setupGone() {
        return eventually([] { return !windowShows("^Setup$"); }, std::chrono::seconds(10),
                          [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    }
    // Waits until the archive holds the beacons, then checks it byte for byte.
    void expectArchived(const std::string& line, std::vector<std::string> beacons) {
        const fs::path telemetry = work_ / "Telemetry";
        for (auto& b : beacons)
            b += '\0';
        std::sort(beacons.begin(), beacons.end());
        std::vector<std::string> stored;  // a file may show before it is written out
        const bool same = eventually(
            [&] {
                stored.clear();
                for (const auto& f : filesIn(telemetry / "raw_data"))
                    stored.push_back(readFile(f));
                std::sort(stored.begin(), stored.end());
                return stored == beacons;
            },
            10s, [] { std::this_thread::sleep_for(50ms); });
        std::string sizes;
        for (const auto& f : stored)
            sizes += std::to_string(f.size()) + " ";
        EXPECT_TRUE(same) << "RawFrameFiles of sizes " << sizes;
        EXPECT_TRUE(eventually([&] { return logged() == line.size(); }));
        const auto logs = rawByteLogsIn(telemetry);
        EXPECT_TRUE(logs.size() == 1 && readFile(logs[0]) == line) << "the KISS stream as received";
        const auto text = filesIn(telemetry / "Decoded");
        ASSERT_EQ(text.size(), 1u);
        const std::string decoded = readFile(text[0]);
        EXPECT_EQ(decoded.rfind(beaconTextLogHeader(), 0), 0u);
        EXPECT_EQ(std::count(decoded.begin(), decoded.end(), '\n') - 4, std::ptrdiff_t(beacons.size())) << decoded;
    }
    std::uintmax_t logged() {
        const auto logs = rawByteLogsIn(work_ / "Telemetry");
        return logs.size() == 1 ? sizeOf(logs[0]) : 0;
    }

    ScratchDir scratch_{"kestrel-wine-window"};
    WineLine line_;
    fs::path work_;
    int peer_ = -1;
    std::unique_ptr<WineProgram> program_;
    std::string window_;
};

TEST_F(WineWindow, ReceivedStreamIsArchivedAndCloseStoresTheSettings) {
    start();
    Stream stream(300);
    for (int i = 0; i < 25; ++i)
        stream.addUnit();
    for (std::size_t at = 0; at < stream.bytes.size(); at += 1000) {
        send(stream.bytes.substr(at, 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(eventually([&] { return logged() >= stream.bytes.size(); }, std::chrono::seconds(20)));
    const std::string settings = closeProgram();

    const ArchiveCheck c = checkArchive(work_, stream, stream.bytes.size());
    for (const auto& p : c.problems)
        ADD_FAILURE() << p;
    EXPECT_NE(settings.find("Port=COM7\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("BaudRate=256000\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("DataBits=8\r\n"), std::string::npos) << "not rewritten: " << settings;
    EXPECT_NE(settings.find(kOtherSection), std::string::npos) << settings;
}

// A station folder named in scripts outside the code page (Chinese,
// Cyrillic, Greek) under a German Windows: the settings file is read (COM7,
// not the design's COM4), the stream archived there byte for byte, the
// settings stored at the close, and the station log names the folder in UTF-8.
TEST_F(WineWindow, AStationFolderNamedInAnyScriptUnderAGermanCodePage) {
    const std::vector<std::string> german{"LANG=de_DE.UTF-8", "LC_ALL=de_DE.UTF-8"};
    // Wine takes its locale, and with it the code page (1252), from the
    // Unix one: its own programs then speak German.
    const std::string chcp = shell("env LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 wine cmd /c chcp 2>/dev/null");
    ASSERT_NE(chcp.find("Aktive Codepage"), std::string::npos) << "no German Windows (de_DE.UTF-8 missing?): " << chcp;
    // "Station 空 Станция Σταθμός"
    const std::string name =
        "Station \u7a7a \u0421\u0442\u0430\u043d\u0446\u0438\u044f "
        "\u03a3\u03c4\u03b1\u03b8\u03bc\u03cc\u03c2";
    work_ = scratch_ / name;
    fs::create_directories(work_);
    std::ofstream(work_ / "RS232Settings.ini", std::ios::binary) << "[CPort]\r\nPort=COM7\r\nBaudRate=256000\r\n";
    program_ = std::make_unique<WineProgram>(line_, work_, german);
    window_ = program_->waitForMainWindow();
    ASSERT_FALSE(window_.empty()) << program_->output();
    Stream stream(300);
    for (int i = 0; i < 5; ++i)
        stream.addUnit();
    send(stream.bytes);
    EXPECT_TRUE(eventually([&] { return logged() >= stream.bytes.size(); }, std::chrono::seconds(20)))
        << program_->output();
    const std::string settings = closeProgram();

    for (const auto& p : checkArchive(work_, stream, stream.bytes.size()).problems)
        ADD_FAILURE() << p;
    EXPECT_NE(settings.find("FlowControl="), std::string::npos) << "not stored: " << settings;
    const std::string log = readFile(work_ / "kestrel-decoder.log");
    EXPECT_NE(log.find(name + "\r\n"), std::string::npos) << log;

    // kestrel-redecode.exe there, on a wildcard as cmd.exe passes it, with
    // the folder's whole Windows name (Wine's drive Z: is the root).
    std::string logs = "Z:" + (work_ / "Telemetry" / "raw_log" / "*.KR7").string();
    std::replace(logs.begin(), logs.end(), '/', '\\');
    const fs::path redecode = fs::path(line_.exe).parent_path() / "kestrel-redecode.exe";
    int status = -1;
    const std::string output = shell("cd '" + work_.string() + "' && LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 wine '" +
                                         redecode.string() + "' --csv rows.csv '" + logs + "' 2>&1",
                                     &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find(name), std::string::npos) << "the summary names the log in UTF-8: " << output;
    const std::string rows = readFile(work_ / "rows.csv");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + std::ptrdiff_t(stream.frames.size())) << rows;
}

TEST_F(WineWindow, KeysGoOutOnTheLineWhicheverControlHasTheFocus) {
    start();
    click(kSendPane);
    shell("xdotool type --delay 50 AT");
    key("Return");
    EXPECT_EQ(received(3), "AT\r") << "typed keys go out at once";
    key("F9");
    EXPECT_EQ(received(6), "AT\r\n\r");
    key("Tab Delete ctrl+g");  // as a terminal sends them; Tab stays in the pane; Delete types nothing
    key("BackSpace F9");
    EXPECT_EQ(received(8), std::string("\t\a\b") + "AT\r\n\r");

    click(kDecodedPane);  // the shortcuts act from any control
    key("F9");
    EXPECT_EQ(received(6), "AT\r\n\r");
    key("ctrl+t");
    const std::string frame = received(kBeaconFrameSize);
    ASSERT_EQ(frame.size(), kBeaconFrameSize);
    EXPECT_EQ(frame.substr(0, 2), "Bb");
    EXPECT_EQ(frame.substr(kBeaconFrameSize - TrailerMarker.size()), TrailerMarker);

    key("ctrl+alt+m");  // the random-byte stream, on and off
    EXPECT_GE(received(20).size(), 20u);
    key("ctrl+alt+m");
    drain();
    EXPECT_EQ(readFor(peer_, 1, std::chrono::seconds(1)), "") << "the stream did not stop";
    closeProgram();
}

// Tabbing back into the send pane selects nothing and puts the caret at the
// end; Delete deletes forward and sends nothing.
TEST_F(WineWindow, TabbingIntoTheSendPaneKeepsItsTextAndDeleteSendsNothing) {
    start();
    click(kSendPane);
    shell("xdotool type --delay 50 hello");
    EXPECT_EQ(received(5), "hello");
    key("Home shift+Tab Tab");
    shell("xdotool type --delay 50 X");
    key("Home Delete F9");
    EXPECT_EQ(received(7), "XelloX\r");
    closeProgram();
}

// The operator types into each receive pane while lines come in: the typed
// text stays where it was typed, every received byte is shown after it, the
// line gets nothing, and the trim takes the typed text with the oldest lines.
TEST_F(WineWindow, TypedTextInAReceivePaneStaysWhileBytesArriveAndTheTrimTakesIt) {
    start();
    std::string all;  // every byte sent
    for (const auto& [pane, hex] : {std::pair{kTextPane, false}, std::pair{kHexPane, true}}) {
        std::atomic<bool> stop = false;
        std::string round;
        std::thread writer([&] {
            for (int n = 0; !stop; ++n) {
                const std::string line = "L" + std::to_string(100 + n) + "\r";
                ASSERT_EQ(::write(peer_, line.data(), line.size()), ssize_t(line.size()));
                round += line;
                std::this_thread::sleep_for(200ms);
            }
        });
        click(pane);
        key("ctrl+End");
        shell("xdotool type --delay 80 ' hellp'");
        key("BackSpace");
        shell("xdotool type --delay 80 o");
        key("shift+Left shift+Left Delete");
        stop = true;
        writer.join();
        all += round;
        std::this_thread::sleep_for(400ms);
        std::string copy = copied();
        const std::size_t typed = copy.find(" hel");
        ASSERT_NE(typed, std::string::npos) << copy;
        copy.erase(typed, 4);
        EXPECT_EQ(copy.find(" hel"), std::string::npos) << copy;
        EXPECT_TRUE(Shown(all, hex).ends_with(copy)) << copy;
        EXPECT_TRUE(copy.ends_with(Shown(round, hex))) << "every byte of the round shown: " << copy;

        std::string more;
        for (int n = 0; n < 60; ++n)
            more += "M" + std::to_string(100 + n) + "\r";
        send(more);
        all += more;
        std::this_thread::sleep_for(1500ms);  // a trim
        copy = copied();
        EXPECT_EQ(copy.find("hel"), std::string::npos) << copy;
        EXPECT_TRUE(Shown(all, hex).ends_with(copy)) << copy;
        if (!hex) {
            EXPECT_EQ(std::count(copy.begin(), copy.end(), '\n'), 20) << "twenty lines: " << copy;
        } else {
            EXPECT_LE(copy.size(), 20u * 30u) << "twenty lines of ten cells at most: " << copy;
        }
    }
    EXPECT_EQ(readFor(peer_, 1, 500ms), "") << "nothing typed goes to the line";
    closeProgram();
}

// A writer sends "S00000" lines at 400 a second; the test copies the text pane
// every 200 ms. Each copy holds whole consecutive lines; until a trim each
// holds all that the one before held; the fullest holds most of a second.
TEST_F(WineWindow, CopyOfTheTextPaneAtFourHundredLinesASecondHoldsEveryLineSinceTheTrim) {
    start();
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        char line[16];
        for (int n = 0; !stop; n += 10) {
            std::string burst;
            for (int i = n; i < n + 10; ++i) {
                std::snprintf(line, sizeof line, "S%05d\r", i);
                burst += line;
            }
            ASSERT_EQ(::write(peer_, burst.data(), burst.size()), ssize_t(burst.size()));
            std::this_thread::sleep_for(25ms);
        }
    });
    click(kTextPane);
    std::vector<std::vector<int>> copies;
    for (int i = 0; i < 14; ++i) {
        std::this_thread::sleep_for(200ms);
        copies.push_back(NumberedLines(copied()));
    }
    stop = true;
    writer.join();
    // A copy before the first lines are shown, or before the program took
    // the keys, holds nothing of the stream.
    std::erase_if(copies, [](const std::vector<int>& lines) { return lines.empty(); });
    ASSERT_GE(copies.size(), 8u);
    std::size_t fullest = 0;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const std::vector<int>& lines = copies[i];
        for (std::size_t k = 1; k < lines.size(); ++k)
            ASSERT_EQ(lines[k], lines[k - 1] + 1) << "copy " << i << " line " << k;
        if (i > 0 && lines.front() == copies[i - 1].front()) {  // no trim between: nothing went
            EXPECT_GE(lines.size(), copies[i - 1].size()) << "copy " << i;
        }
        fullest = std::max(fullest, lines.size());
    }
    EXPECT_GT(fullest, 200u) << "a second's lines, not a tail of them";
    closeProgram();
}

TEST_F(WineWindow, SetupDialogCancelLeavesTheSettingsAndOkAppliesThem) {
    start();
    click(kSettingsButton);
    ASSERT_FALSE(waitForWindow("^Setup$", 10).empty());
    key("Down Tab Up");  // another port, another baud rate
    key("Escape");
    ASSERT_TRUE(setupGone());
    send("x");  // the port is open again
    EXPECT_TRUE(eventually([&] { return logged() == 1; }, std::chrono::seconds(10)));

    click(kSettingsButton);
    ASSERT_FALSE(waitForWindow("^Setup$", 10).empty());
    key("Tab Up Return");  // 128000 baud, OK
    ASSERT_TRUE(setupGone());
    const std::string settings = closeProgram();
    EXPECT_NE(settings.find("Port=COM7\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("BaudRate=128000\r\n"), std::string::npos) << settings;
}

TEST_F(WineWindow, MissingPortShowsTheStartUpMessageBeforeTheWindow) {
    writeFile(work_ / "RS232Settings.ini", "[CPort]\r\nPort=COM99\r\n");
    program_ = std::make_unique<WineProgram>(line_, work_);
    const std::string box = waitForWindow("^kestrel-decoder$");
    ASSERT_FALSE(box.empty()) << program_->output();
    EXPECT_FALSE(windowShows(WineProgram::kMainTitle));
    dismiss(box);
    window_ = program_->waitForMainWindow();
    ASSERT_FALSE(window_.empty());
    click(kSendPane);
    key("a b");  // with the port closed each key is reported, one box at a time
    ASSERT_FALSE(waitForWindow("^kestrel-decoder$", 10).empty());
    EXPECT_EQ(shell("xdotool search --onlyvisible --name '^kestrel-decoder$' | wc -l"), "1");
    // Closing with the box up: shut-down runs all the same, and no further box opens.
    EXPECT_NE(closeProgram().find("Port=COM99\r\n"), std::string::npos);
}

// A settings file that is not read says why, in the Linux program's words,
// and is left as it is; the design's COM4 then does not open.
TEST_F(WineWindow, ASettingsFileThatIsNotReadSaysWhyAndIsLeftAsItIs) {
    const fs::path ini = work_ / "RS232Settings.ini";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0); }, "is not a regular file"},
        {[&] { fs::create_symlink(ini, ini); }, "cannot be read: Too many levels of symbolic links"},
    };
    for (const auto& [make, why] : cases) {
        make();
        program_ = std::make_unique<WineProgram>(line_, work_);
        const std::string box = waitForWindow("^kestrel-decoder$");
        ASSERT_FALSE(box.empty()) << program_->output();
        EXPECT_NE(program_->output().find("RS232Settings.ini: the file " + why + "; the built-in settings are used"),
                  std::string::npos)
            << program_->output();
        dismiss(box);
        ASSERT_FALSE(program_->waitForMainWindow().empty());
        EXPECT_EQ(program_->close(), 0) << program_->output();
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(ini))) << "replaced";
        fs::remove(ini);
    }
}

// Two reports queued (the RawByteLog's and the BeaconTextLog's folders are
// files), the first one's box up: WM_CLOSE shuts down at once, the second never
// opens, shut-down runs.
TEST_F(WineWindow, CloseWithTwoReportsQueuedOpensNoFurtherBoxAndShutsDown) {
    fs::create_directories(work_ / "Telemetry");
    writeFile(work_ / "Telemetry" / "raw_log", "not a folder");
    writeFile(work_ / "Telemetry" / "Decoded", "not a folder");
    start();
    send(buildBeaconFrame(135, BeaconRecord{}));
    ASSERT_FALSE(waitForWindow("^kestrel-decoder$", 10).empty()) << program_->output();
    EXPECT_NE(closeProgram().find("FlowControl=None\r\n"), std::string::npos);
    const std::string out = program_->output();
    const std::size_t closing = countOf(out, "kestrel-decoder: (closing, not shown) ");
    EXPECT_EQ(countOf(out, " not written: I/O error") - closing, 2u) << "each written down as it happened:\n" << out;
    EXPECT_EQ(closing, 1u) << "a box opened after the close, or the one waiting was not written down:\n" << out;
}

// The adapter unplugged and plugged in again: COM11 is a pseudo-terminal
// that goes away and comes back under the same name.
TEST_F(WineWindow, UnpluggedPortIsReleasedReportedAndReopenedIntoTheSameRun) {
    const fs::path link = scratch_ / "com11-line";
    const fs::path device = fs::path(line_.prefix) / "dosdevices" / "com11";
    const auto plugIn = [&](const Pty& pty) {
        fs::remove(link);
        fs::create_symlink(pty.PortName(), link);
    };
    auto adapter = std::make_unique<Pty>();
    plugIn(*adapter);
    fs::remove(device);
    fs::create_symlink(link, device);
    start("COM11");
    adapter->Send("before");
    ASSERT_TRUE(eventually([&] { return logged() == 6; }, 10s)) << program_->output();

    adapter.reset();
    fs::remove(link);
    EXPECT_TRUE(eventually([&] { return program_->output().find("Port COM11 lost") != std::string::npos; }, 10s))
        << program_->output();
    adapter = std::make_unique<Pty>();
    plugIn(*adapter);
    ASSERT_TRUE(eventually(
        [&] {  // single bytes until the program has the line again
            adapter->Send("p");
            return logged() > 6;
        },
        10s, [] { std::this_thread::sleep_for(200ms); }))
        << program_->output();
    const std::uintmax_t before = logged();
    adapter->Send(std::string(139, 'x'));
    EXPECT_TRUE(eventually([&] { return logged() >= before + 139; }, 10s)) << "into the same run's RawByteLog";
    EXPECT_EQ(rawByteLogsIn(work_ / "Telemetry").size(), 1u);
    closeProgram();
    fs::remove(device);
}

// A software TNC's KISS TCP port: the program connects by itself, archives the
// beacons inside the frames, answers in KISS frames and reconnects after the
// TNC dropped it.
TEST_F(WineWindow, KissTcpTncIsArchivedAnsweredInKissFramesAndReachedAgain) {
    Listener tnc;
    start("COM7", "[Line]\r\nSource=KISS TCP\r\nHost=127.0.0.1\r\nTcpPort=" + std::to_string(tnc.port()) + "\r\n");
    ASSERT_TRUE(eventually([&] { return tnc.accept(); }, 10s)) << program_->output();
    const std::vector<std::string> beacons = {escapedBeacon(1), escapedBeacon(2)};
    std::string line;
    for (const auto& b : beacons)
        line += EncodeKissDataFrame(ax25UiHeader() + b);
    tnc.send(line);
    expectArchived(line, beacons);

    click(kDecodedPane);
    key("ctrl+t");
    KissDeframer deframer;
    std::vector<std::string> frames;
    std::size_t contents = 0;  // until the whole beacon is there, in however many frames it came
    EXPECT_TRUE(eventually([&] {
        deframer.Feed(tnc.receiveSome(), [&](std::string_view f) {
            frames.emplace_back(f);
            contents += f.size();
        });
        return contents >= kBeaconFrameSize;
    }));
    ASSERT_EQ(frames.size(), 1u) << "one data frame";
    EXPECT_EQ(frames[0].size(), kBeaconFrameSize);
    EXPECT_EQ(frames[0].substr(0, 2), "Bb");

    tnc.dropClient();
    EXPECT_TRUE(eventually([&] { return tnc.accept(); }, 8s)) << "reconnects by itself";
    closeProgram();
}

TEST_F(WineWindow, SerialKissLineIsDeframedIntoTheArchive) {
    start("COM7", "[Line]\r\nSource=Serial KISS\r\n");
    const std::string beacon = escapedBeacon(3);
    const std::string line = "noise" + EncodeKissDataFrame(ax25UiHeader() + beacon);
    send(line);
    expectArchived(line, {beacon});
    closeProgram();
}

// Through WinHTTP to the test server; on a KISS line the whole data frame goes.
TEST_F(WineWindow, DecodedBeaconsAreForwarded) {
    SidsServer server;
    start("COM7", "[Line]\r\nSource=Serial KISS\r\n[Share]\r\nUrl=" + server.url() +
                      "\r\nNoradId=99999\r\nCallsign=N0CALL\r\nLatitude=49.73145\r\nLongitude=8.95564\r\n");
    const std::string frame = ax25UiHeader() + escapedBeacon(3);
    send("noise" + EncodeKissDataFrame(frame));
    EXPECT_TRUE(eventually([&] { return !server.taken().empty(); }, 20s, [] { std::this_thread::sleep_for(50ms); }));
    EXPECT_EQ(server.taken(), std::vector<std::string>{HexUpper(frame)});
    for (const auto& s : server.received())
        EXPECT_TRUE(s.problems.empty()) << s.request;
    closeProgram();
}

// A Linux and a Windows program on one station folder both forward; each is
// killed in turn with frames waiting, and the other one sends them too.
TEST_F(WineWindow, ALinuxAndAWindowsProgramOnOneFolderForwardAllWhenEitherIsKilled) {
    SidsServer server;
    server.goDown();
    const std::string share = "[Share]\r\nUrl=" + server.url() +
                              "\r\nNoradId=99999\r\nCallsign=N0CALL\r\nLatitude=49.73145\r\nLongitude=8.95564\r\n";
    sim::SimPort pty = sim::SimPort::createPty();
    std::unique_ptr<Child> native;
    const auto startNative = [&] {
        sim::writeSettingsIni(work_.string(), pty.portName(), 9600);
        std::ofstream(work_ / "RS232Settings.ini", std::ios::binary | std::ios::app) << share;
        native =
            std::make_unique<Child>(std::vector<std::string>{KESTREL_DECODER}, work_, scratch_ / "linux.out", true);
        return eventually([&] { return pty.peerConfigured(); }, 30s);
    };
    std::vector<std::string> sent;
    const auto beacon = [&](bool toWindows) {
        BeaconRecord r;
        r.setFlightTime(std::uint32_t(500 + sent.size()));
        const std::string frame = buildBeaconFrame(135, r);
        sent.push_back(HexUpper(frame));
        if (toWindows)
            send(frame);
        else
            for (std::size_t done = 0; done < frame.size();)
                done += pty.writeSome(frame.data() + done, frame.size() - done);
    };
    const fs::path outbox = work_ / "Telemetry" / "share" / "outbox.txt",
                   second = outbox.parent_path() / "outbox-2.txt";
    const auto queued = [](const fs::path& file) { return countOf("\n" + readFile(file), "\nQ "); };
    const auto taken = [&](std::size_t n) {
        return eventually([&] { return server.taken().size() == n; }, 30s, [] { std::this_thread::sleep_for(50ms); });
    };

    ASSERT_TRUE(startNative()) << readFile(scratch_ / "linux.out");
    start("COM7", share);  // second on the folder: outbox-2.txt
    beacon(false);
    beacon(true);
    ASSERT_TRUE(eventually([&] { return queued(outbox) == 1 && queued(second) == 1; }, 20s)) << program_->output();
    ::kill(native->pid(), SIGKILL);
    native->waitExit(5s);
    server.comeUp();
    ASSERT_TRUE(taken(2)) << program_->output();  // the Windows program took the Linux one's over

    server.goDown();
    ASSERT_TRUE(startNative()) << readFile(scratch_ / "linux.out");
    beacon(false);
    beacon(true);
    ASSERT_TRUE(eventually([&] { return queued(outbox) == 1 && queued(second) == 2; }, 20s)) << program_->output();
    program_->kill();
    server.comeUp();
    ASSERT_TRUE(taken(4)) << readFile(scratch_ / "linux.out");
    EXPECT_EQ(native->terminate(), 0);
    std::vector<std::string> got = server.taken();
    std::sort(got.begin(), got.end());
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(got, sent);
    EXPECT_EQ(server.received().size(), 4u);  // none twice
}

// The station dialog (F3): a KISS TCP line and sharing typed into it are in
// the settings file and in use at once, the rest of the file kept.
TEST_F(WineWindow, SharingAndAKissTcpLineSetInTheStationDialogAreStoredAndInUse) {
    Listener tnc;
    SidsServer server;
    start();
    click(kDecodedPane);
    key("F3");
    ASSERT_FALSE(waitForWindow("^Station$", 10).empty());
    // Source: the third choice; the serial port is then passed over.
    key("Down Down Tab Tab End BackSpace BackSpace BackSpace BackSpace BackSpace");
    shell("xdotool type --delay 40 '" + std::to_string(tnc.port()) + "'");
    for (const std::string& field :
         {server.url(), std::string("12345"), std::string("DL1ABC"), std::string("50.1"), std::string("-8.25")}) {
        key("Tab");
        shell("xdotool type --delay 40 -- '" + field + "'");
    }
    key("Return");
    ASSERT_TRUE(eventually([] { return !windowShows("^Station$"); }, 10s, [] { std::this_thread::sleep_for(50ms); }));
    const std::string ini = readFile(work_ / "RS232Settings.ini");
    EXPECT_NE(ini.find(kOtherSection), std::string::npos) << ini;
    EXPECT_NE(ini.find("Source=KISS TCP\r\nHost=127.0.0.1\r\nTcpPort=" + std::to_string(tnc.port())), std::string::npos)
        << ini;
    EXPECT_NE(ini.find("[Share]\r\nUrl=" + server.url() + "\r\nNoradId=12345\r\nCallsign=DL1ABC\r\n"),
              std::string::npos)
        << ini;

    ASSERT_TRUE(eventually([&] { return tnc.accept(); }, 10s)) << program_->output();
    const std::string frame = ax25UiHeader() + escapedBeacon(5);
    tnc.send(EncodeKissDataFrame(frame));
    EXPECT_TRUE(eventually([&] { return !server.taken().empty(); }, 20s, [] { std::this_thread::sleep_for(50ms); }));
    EXPECT_EQ(server.taken(), std::vector<std::string>{HexUpper(frame)});
    closeProgram();
}

// Memo1 after beacons with GPS on, off and on again (25, 21, 25 lines): the
// engine hands the window only the lines that changed, and the window's edit
// control, whose line breaks are CR LF, must still show the last beacon's.
TEST_F(WineWindow, DecodedPaneShowsTheLastBeaconWhateverTheOneBeforeHad) {
    start();
    std::size_t sent = 0;
    for (const bool gps : {true, false, true}) {
        BeaconRecord r;
        r.setFlightTime(std::uint32_t(100 + sent));
        r.setVbat(std::uint16_t(7000 + sent));
        r.setGpsOn(gps ? 1 : 0);
        send(buildBeaconFrame(135, r));
        ++sent;
        ASSERT_TRUE(eventually([&] { return filesIn(work_ / "Telemetry" / "raw_data").size() == sent; }, 10s));
        const std::vector<std::string> want = decodedInfoLines(r, std::uint32_t(sent), SystemTime{});
        std::vector<std::string> shown;
        const bool same = eventually(
            [&] {
                click(kDecodedPane);
                key("ctrl+Home ctrl+shift+End ctrl+c");
                std::this_thread::sleep_for(150ms);
                std::istringstream text(shell("xclip -o -selection clipboard 2>/dev/null"));
                shown.clear();
                for (std::string line; std::getline(text, line);)
                    shown.push_back(line.substr(0, line.find('\r')));
                // The receive time is the program's, in its own time zone.
                return shown.size() == want.size() && std::equal(want.begin() + 2, want.end(), shown.begin() + 2) &&
                       shown[0] == want[0];
            },
            10s);
        EXPECT_TRUE(same) << "beacon " << sent << ": " << shown.size() << " lines, want " << want.size();
    }
    closeProgram();
}

// Each receive pane's text through the system (WM_GETTEXT, as a screen
// reader reads an edit control), and its displayed lines: 39 characters and
// 10 hex bytes a row, as on Linux.
TEST_F(WineWindow, ThePanesTextIsReadThroughTheSystemAndWrapsAsOnLinux) {
    start();
    sim::BeaconSource source({.seed = 5});
    send(source.nextTransmission(0).bytes);
    EXPECT_TRUE(eventually([&] { return filesIn(work_ / "Telemetry" / "raw_data").size() == 1; }, 10s));
    std::vector<std::vector<std::string>> panes;
    EXPECT_TRUE(eventually(
        [&] {
            panes = windowsOf(probe("tree", kMainCaption), "KestrelRxPane");
            return panes.size() == 2 && panes[0].back().find(" NORTHERN SKY BEACON ") != std::string::npos &&
                   panes[1].back().find("4E 4F 52 54 48 45 52 4E") != std::string::npos;
        },
        10s))
        << (panes.empty() ? "no pane" : panes[0].back());
    ASSERT_EQ(panes.size(), 2u);
    EXPECT_EQ(panes[0].back().rfind("TNC RX\\r\\n", 0), 0u) << panes[0].back();
    EXPECT_EQ(panes[1].back().rfind("TNC RX HEX\\r\\n", 0), 0u) << panes[1].back();

    // The lines' lengths in characters, after the first in view.
    const auto lengths = [](const std::vector<std::string>& lines) {
        std::vector<int> n;
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (!lines[i].empty() && std::isdigit(static_cast<unsigned char>(lines[i][0])))
                n.push_back(std::atoi(lines[i].c_str()));  // else a received byte broke the probe's line
        return n;
    };
    const std::vector<int> text = lengths(probe("lines", kMainCaption, "0"));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(*std::max_element(text.begin(), text.end()), 39) << "a beacon's bytes fill whole lines of the text pane";
    const std::vector<int> hex = lengths(probe("lines", kMainCaption, "1"));
    ASSERT_GE(hex.size(), 5u);
    EXPECT_EQ(hex[2], 30) << "10 bytes a row";
    closeProgram();
}

// Turned up while lines come in (20 a second, the trim keeping 20), the wheel
// holds the view: the index of its first line moves only when the trim takes
// lines above it (following, it moves with every line).
TEST_F(WineWindow, TheWheelHoldsTheViewWhileLinesComeIn) {
    start();
    std::atomic<bool> sending{true};
    std::thread writer([&] {
        for (int i = 0; sending; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, "S%05d\r", i);
            send(line);
            std::this_thread::sleep_for(50ms);
        }
    });
    std::this_thread::sleep_for(1500ms);
    click(kTextPane);
    shell("xdotool click 4");  // the wheel, once up
    std::vector<int> firsts;
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(100ms);
        const std::vector<std::string> lines = probe("lines", kMainCaption, "0");
        if (!lines.empty() && lines[0].rfind("first in view ", 0) == 0)
            firsts.push_back(std::atoi(lines[0].c_str() + std::string("first in view ").size()));
    }
    sending = false;
    writer.join();
    ASSERT_GE(firsts.size(), 5u);
    const std::set<int> distinct(firsts.begin(), firsts.end());
    EXPECT_LE(distinct.size(), 3u) << "following the bytes: first lines in view " << ::testing::PrintToString(firsts);
    closeProgram();
}

// The window's picture as the X server shows it (Wine draws the frame).
QImage windowPicture(const std::string& window, const fs::path& png) {
    shell("import -window " + window + " " + png.string());
    return QImage(QString::fromStdString(png.string()));
}

// The same, raised first: the X server gives a window's picture as the screen
// shows it, and without a window manager a focus change Wine hears of late
// can put the window clicked before above the one that opened since.
QImage raisedWindowPicture(const std::string& window, const fs::path& png) {
    shell("xdotool windowraise " + window);
    return windowPicture(window, png);
}

// Pixels of the battery's colour: the Vbat line the trend window draws.
int vbatPixels(const QImage& picture) {
    int n = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            n += picture.pixel(x, y) == qRgb(32, 159, 223);
    return n;
}

// F2 opens the trend window, fed from the engine as beacons are decoded.
TEST_F(WineWindow, F2OpensTheTrendWindowFedLive) {
    start();
    sim::BeaconSource source({.seed = 5});
    for (int b = 0; b < 6; ++b)
        send(source.nextTransmission(b).bytes);
    EXPECT_TRUE(eventually([&] { return filesIn(work_ / "Telemetry" / "raw_data").size() == 6; }, 10s));
    click(kDecodedPane);
    key("F2");
    const std::string trends = waitForWindow(std::string("^") + plot::design::kCaption + "$", 10);
    ASSERT_FALSE(trends.empty()) << "F2 opened no trend window";
    // Drawn once the window has painted: waited for, not slept on.
    int before = 0;
    const fs::path first = fs::path(KESTREL_PICTURE_DIR) / "f2-first.png";  // kept for a failure
    fs::create_directories(first.parent_path());
    EXPECT_TRUE(eventually([&] { return (before = vbatPixels(raisedWindowPicture(trends, first))) > 20; }, 10s))
        << "the beacons so far are drawn: " << before << " Vbat pixels in " << first
        << "; windows so named: " << shell("xdotool search --name '^" + std::string(plot::design::kCaption) + "$'");
    for (int b = 6; b < 12; ++b)
        send(source.nextTransmission(b).bytes);
    EXPECT_TRUE(eventually([&] { return filesIn(work_ / "Telemetry" / "raw_data").size() == 12; }, 10s));
    EXPECT_TRUE(
        eventually([&] { return vbatPixels(raisedWindowPicture(trends, scratch_ / "live2.png")) != before; }, 10s))
        << "new beacons are drawn live";
    closeProgram();
}

// Compares a window's picture with docs/NAME (KESTREL_UPDATE_PICTURES=1
// writes it there instead); the picture goes to build/pictures/NAME.
void expectPicture(const std::string& window, const char* name) {
    const fs::path made = fs::path(KESTREL_PICTURE_DIR) / name;
    fs::create_directories(made.parent_path());
    const QImage picture = windowPicture(window, made);
    const fs::path reference = fs::path(KESTREL_SOURCE_DIR) / "docs" / name;
    if (const char* update = std::getenv("KESTREL_UPDATE_PICTURES"); update && std::string(update) == "1")
        fs::copy_file(made, reference, fs::copy_options::overwrite_existing);
    const PictureDifference d = comparePictures(picture, QImage(QString::fromStdString(reference.string())));
    EXPECT_TRUE(d.sameSize && d.share <= kPictureTolerance)
        << name << ": " << d.describe() << "; compare " << made << " with " << reference;
}

// kestrel-trends.exe on the fixed sample, the pointer on the beacon the Qt
// window's picture reads out, then the map, then the plots at the least size:
// the reference pictures docs/trends-windows.png,
// docs/ground-track-windows.png and docs/trends-windows-min.png.
TEST(WineTrends, TrendsExeDrawsTheFixedSampleAsItsReferencePictures) {
    const auto line = WineLine::fromEnvironment();
    ASSERT_TRUE(line) << "run through scripts/test-stages/31-windows-gui.sh";
    ScratchDir scratch("kestrel-wine-trends");
    writeTrendSample(scratch.path() / "station");
    const fs::path exe = fs::path(line->exe).parent_path() / "kestrel-trends.exe";
    Child program({"/usr/bin/env", "wine", exe.string(), "station"}, scratch.path(), scratch.path() / "trends.out",
                  false);
    const std::string window = waitForWindow(std::string("^") + plot::design::kCaption + "$", 30);
    ASSERT_FALSE(window.empty()) << readFile(scratch.path() / "trends.out");

    // Where the design puts that beacon: the canvas below the tool bar and the tabs.
    namespace td = plot::design;
    plot::TrendView view;
    plot::openTrendPath(view, scratch.path() / "station");
    int width = td::kClientWidth, height = td::kClientHeight;  // as the window came out on this screen
    std::sscanf(shell("xdotool getwindowgeometry " + window + " | sed -n 's/.*Geometry: //p'").c_str(), "%dx%d", &width,
                &height);
    view.setSize(width, height - td::kToolBarHeight - td::kTabHeight - td::kStatusHeight);
    const plot::PointF at = view.pointOf(0, kTrendSampleBeaconsPerPass + 30);
    const int canvasTop = td::kToolBarHeight + td::kTabHeight;
    shell("xdotool mousemove --window " + window + " " + std::to_string(int(at.x)) + " " +
          std::to_string(canvasTop + int(at.y)));
    std::this_thread::sleep_for(2s);  // painted
    expectPicture(window, "trends-windows.png");

    shell("xdotool mousemove --window " + window + " 100 " + std::to_string(td::kToolBarHeight + 12) + " click 1");
    std::this_thread::sleep_for(1s);
    expectPicture(window, "ground-track-windows.png");

    // Back to the plots, made as small as it gets: all of it laid out and
    // painted anew at the new size (docs/trends-windows-min.png).
    shell("xdotool mousemove --window " + window + " 20 " + std::to_string(td::kToolBarHeight + 12) + " click 1");
    shell("xdotool windowsize " + window + " " + std::to_string(td::kMinimumWidth) + " " +
          std::to_string(td::kMinimumHeight));
    std::this_thread::sleep_for(2s);
    expectPicture(window, "trends-windows-min.png");
    shell("wine taskkill /im kestrel-trends.exe >/dev/null 2>&1");
    EXPECT_EQ(program.waitExit(std::chrono::seconds(20)), 0);
}

// kestrel-trends.exe without a pointer: Tab reaches the buttons, the tabs and
// the canvas; in the canvas the keys read the beacons out in the status line;
// the shortcuts; the canvas named with what it shows.
TEST(WineTrends, EverythingByKeyboard) {
    const auto line = WineLine::fromEnvironment();
    ASSERT_TRUE(line) << "run through scripts/test-stages/31-windows-gui.sh";
    ScratchDir scratch("kestrel-wine-trends-keys");
    writeTrendSample(scratch.path() / "station");
    const fs::path exe = fs::path(line->exe).parent_path() / "kestrel-trends.exe";
    Child program({"/usr/bin/env", "wine", exe.string(), "station"}, scratch.path(), scratch.path() / "trends.out",
                  false);
    namespace td = plot::design;
    const std::string window = waitForWindow(std::string("^") + td::kCaption + "$", 30);
    ASSERT_FALSE(window.empty()) << readFile(scratch.path() / "trends.out");
    shell("xdotool mousemove --window " + window + " 300 " + std::to_string(td::kClientHeight - 8));  // the status line
    const auto focused = [] {
        const std::vector<std::string> f = probe("focus", td::kCaption);
        return f.empty() ? std::string() : f[0].substr(0, f[0].find('\t'));
    };
    std::set<std::string> reached;
    for (int i = 0; i < 6; ++i) {
        shell("xdotool key Tab");
        EXPECT_TRUE(eventually([&] { return !focused().empty(); }, 5s));
        reached.insert(focused());
    }
    EXPECT_TRUE(reached.count("Button") && reached.count("SysTabControl32") && reached.count("KestrelTrendCanvas"))
        << reached.size() << " classes reached";
    EXPECT_TRUE(eventually([&] { return focused() == "KestrelTrendCanvas"; }, 10s, [] { shell("xdotool key Tab"); }));
    const auto status = [] {
        const auto bars = windowsOf(probe("tree", td::kCaption), "msctls_statusbar32");
        return bars.empty() ? std::string() : bars[0].back();
    };
    shell("xdotool key Left");
    EXPECT_TRUE(eventually([&] { return status().rfind("Beacon 264 of 264, pass 4 of 4,", 0) == 0; }, 10s)) << status();
    shell("xdotool key Return");
    EXPECT_TRUE(eventually([&] { return status().find("(Enter or Esc: all passes)") != std::string::npos; }, 10s))
        << status();
    shell("xdotool key Escape Escape ctrl+r");
    EXPECT_TRUE(eventually([&] { return status().find("; real time") != std::string::npos; }, 10s)) << status();
    shell("xdotool key ctrl+Tab");
    EXPECT_TRUE(eventually(
        [&] {
            const auto canvas = windowsOf(probe("tree", td::kCaption), "KestrelTrendCanvas");
            return !canvas.empty() && canvas[0].back() == "Ground track of 264 beacons";
        },
        10s));
    shell("wine taskkill /im kestrel-trends.exe >/dev/null 2>&1");
    EXPECT_EQ(program.waitExit(std::chrono::seconds(20)), 0);
}

// kestrel-redecode.exe fetches SatNOGS DB's pages through WinHTTP: the token
// sent, the Link header followed, a 429 waited out, the copies merged.
TEST(WineRedecode, FetchesSatnogsPagesThroughWinHttp) {
    const auto line = WineLine::fromEnvironment();
    ASSERT_TRUE(line) << "run through scripts/test-stages/31-windows-gui.sh";
    ScratchDir scratch("kestrel-wine-redecode");
    const auto entry = [](const std::string& frame, const char* observer, const char* time) {
        return std::string(R"({"norad_cat_id": 99999, "frame": ")") + HexUpper(frame) + R"(", "observer": ")" +
               observer + R"(", "timestamp": ")" + time + R"("})";
    };
    const std::string first = "[" + entry(sampleBeacon(2000), "N0CALL-JN49ar", "2026-12-09T10:00:20Z") + "]";
    const std::string second = "[" + entry(ax25UiHeader() + sampleBeacon(2000), "DL1ABC-JO62", "2026-12-09T10:00:19Z") +
                               "," + entry(sampleBeacon(1000), "DL1ABC-JO62", "2026-12-09T10:00:10Z") + "]";
    SidsServer server;
    std::atomic<int> gets{0};
    server.answerGets([&](const std::string& head) {
        SidsServer::Reply r;
        ++gets;
        if (head.find("\r\nAuthorization: Token wine-token\r\n") == std::string::npos)
            r.status = 401;
        else if (head.find("cursor=2") == std::string::npos) {
            r.headers = "Link: <" + server.url() + "?cursor=2&satellite=99999>; rel=\"next\"\r\n";
            r.body = first;
        } else if (gets == 2) {
            r.status = 429;
            r.headers = "Retry-After: 1\r\n";
        } else {
            r.body = second;
        }
        return r;
    });
    const fs::path redecode = fs::path(line->exe).parent_path() / "kestrel-redecode.exe";
    int status = -1;
    const std::string output =
        shell("cd '" + scratch.path().string() + "' && SATNOGS_TOKEN=wine-token wine '" + redecode.string() +
                  "' --satnogs 99999 --satnogs-url " + server.url() + " --csv rows.csv 2>&1",
              &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("asks to wait 1 s (429 Too Many Requests)"), std::string::npos) << output;
    EXPECT_NE(output.find("3 frames, 3 beacons in 2 rows (1 copies merged)"), std::string::npos) << output;
    const std::string rows = readFile(scratch / "rows.csv");
    EXPECT_NE(rows.find("2026-12-09T10:00:19.000Z,2,"), std::string::npos) << rows;
    EXPECT_NE(rows.find(",N0CALL-JN49ar;DL1ABC-JO62,2\n"), std::string::npos) << rows;
    EXPECT_EQ(gets, 3);
}

}  // namespace
}  // namespace kestrel::test
