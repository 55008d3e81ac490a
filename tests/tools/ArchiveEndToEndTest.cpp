// The real program on a pseudo-terminal the test writes to itself: known
// beacons among noise go in, SIGTERM ends the run, and the archive must hold
// exactly those bytes and those beacons.
#include "SimPort.h"
#include "ToolTestSupport.h"
#include "telemetry/Archive.h"
#include "telemetry/BeaconFrame.h"

#include <gtest/gtest.h>

#include <regex>

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

// The worked example's log line up to its date and time (fields worked out by
// hand), and a second beacon one second later.
const std::string kExampleFields =
    "86400\t6850\t  95\t 200\t12.5\t-3.0\t0.0\t54.900000\t23.933300\t400050.0000\t1005.0000\t1\t30.6\t18\t-25\t-21\t"
    "0\t0\t120\t0\t385\t1\t22\t333\t4000\t555\t6\t0x01000AFF00001080";

std::string literal(const std::string& s) {
    return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> v;
    if (fs::is_directory(dir))
        for (auto& e : fs::directory_iterator(dir)) v.push_back(e.path());
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(ArchiveEndToEnd, BytesAndBeaconsWrittenToThePortAreArchivedExactly) {
    test::Scratch scratch("kestrel-archive-e2e");
    const fs::path work = scratch.dir / "station";
    fs::create_directories(work);
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 9600);

    test::Child decoder({KESTREL_DECODER}, work, scratch.dir / "decoder.out", true);
    ASSERT_TRUE(test::waitFor([&] { return pty.peerConfigured() || !decoder.running(); }, std::chrono::seconds(30)))
        << test::readFile(scratch.dir / "decoder.out");
    ASSERT_TRUE(decoder.running()) << test::readFile(scratch.dir / "decoder.out");

    BeaconRecord second = test::exampleRecord();
    second.setFlightTime(86401);
    const std::string first = buildBeaconFrame(kTestFrameHeader, test::exampleRecord());
    const std::string next = buildBeaconFrame(kTestFrameHeader, second);
    std::string damaged = first;
    damaged.erase(60, 1);  // one byte lost on the line: no beacon
    const std::string stream = std::string("cmd:\r\n\0\0\xff", 9) + first + std::string("\0Bb\x01", 4) + damaged +
                               "noise" + next + std::string(" NORTHERN SKY BEACON ") + "tail";
    for (std::size_t sent = 0; sent < stream.size();) {
        sent += pty.writeSome(stream.data() + sent, stream.size() - sent);
        if (sent < stream.size()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    const fs::path telemetry = work / "Telemetry";
    auto logged = [&] {
        auto logs = filesIn(telemetry / "raw_log");
        return logs.size() == 1 ? fs::file_size(logs[0]) : 0u;
    };
    ASSERT_TRUE(test::waitFor([&] { return logged() >= stream.size(); }, std::chrono::seconds(30)))
        << logged() << " of " << stream.size() << " bytes logged";
    EXPECT_EQ(decoder.terminate(), 0) << test::readFile(scratch.dir / "decoder.out");

    // RawByteLog: every byte as it came, under the run's UTC start stamp.
    const auto rawLogs = filesIn(telemetry / "raw_log");
    ASSERT_EQ(rawLogs.size(), 1u);
    EXPECT_TRUE(std::regex_match(rawLogs[0].filename().string(),
                                 std::regex(R"(log_raw_\d{4}_\d\d_\d\d_\d{6}_UTC\.KR7)")));
    EXPECT_EQ(test::readFile(rawLogs[0]), stream);

    // BeaconTextLog: the header, then one line for each whole beacon.
    const auto textLogs = filesIn(telemetry / "Decoded");
    ASSERT_EQ(textLogs.size(), 1u);
    EXPECT_TRUE(std::regex_match(textLogs[0].filename().string(),
                                 std::regex(R"(KR7_beacon_\d{4}_\d\d_\d\d_\d{6}_UTC\.txt)")));
    const std::string when = R"(\t\d{4}-\d\d-\d\d\t\d\d:\d\d:\d\d\r\n)";
    const std::string text = test::readFile(textLogs[0]);
    ASSERT_TRUE(text.starts_with(beaconTextLogHeader()));
    EXPECT_TRUE(std::regex_match(text.substr(beaconTextLogHeader().size()),
                                 std::regex(literal(kExampleFields) + when + "86401" + literal(kExampleFields.substr(5)) + when)))
        << text.substr(beaconTextLogHeader().size());

    // RawFrameFiles: the 131 bytes of each beacon and a zero byte.
    const auto rawFrames = filesIn(telemetry / "raw_data");
    ASSERT_EQ(rawFrames.size(), 2u);
    std::vector<std::string> frames;
    for (const auto& f : rawFrames) {
        EXPECT_TRUE(std::regex_match(f.filename().string(),
                                     std::regex(R"(KR7_raw_\d{4}_\d\d_\d\d_\d{6}_UTC(_\d+)?\.KR7)")));
        frames.push_back(test::readFile(f));
    }
    std::sort(frames.begin(), frames.end());
    std::vector<std::string> expected{first + '\0', next + '\0'};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(frames, expected);

    // Shut-down stored the settings it was started with.
    EXPECT_NE(test::readFile(work / "RS232Settings.ini").find("Port=" + pty.portName() + "\r\n"), std::string::npos);
}
