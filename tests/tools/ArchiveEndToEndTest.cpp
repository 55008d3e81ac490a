// The real program on a pseudo-terminal the test writes to itself: known
// beacons among noise go in, SIGTERM ends the run, and the archive must hold
// exactly those bytes and those beacons.
#include "SimPort.h"
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/ExpectedBeacon.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

// The BeaconTextLog's four header lines, spelled out.
const std::string kHeader =
    "KESTREL (ZZ0KR) beacon data log file\r\n\r\n"
    "Flight time, s\tVbatt, V\tIin, mA\tIsys, mA\tBx\tBy\tBz\tLat\tLong\tAlt\tVelocity\tGPS_ON\t"
    "Tcpu, C Teps, C Tsol_max, C\tTsol_min, C\tTransponder time, s\tTransponder_ON" +
    std::string(2, ' ') + "Iphoto[1..3], mA" + std::string(8, ' ') + "Kphoto[1..6]" + std::string(4, ' ') +
    "ErrorCodes" + std::string(6, ' ') + "Date" + std::string(5, ' ') + "TimeUTC\r\n\r\n";

// Fields 2 to 28 of the line of the generator's first beacon, worked out from
// its draws: Vbat 6500, Iin 1000, Isys 200, B 18.2 33.9 12.8, latitude 54.9,
// longitude -23.9333, altitude 400047, velocity 1000, GPS off, TcpuRaw -16433
// (-16433 / 340 + 36.53 = -11.80), Tpsu 22, ToutMin -30, ToutMax -27,
// transponder 0 0, Isun 81 109 268, Foto as drawn, status bytes all zero.
const std::string kFirstBeaconFields =
    "6500\t1000\t 200\t18.2\t33.9\t12.8\t54.900000\t-23.933300\t400047.0000\t1000.0000\t0\t-11.8\t22\t-30\t-27\t"
    "0\t0\t81\t109\t268\t917\t367\t774\t327\t697\t844\t0x0000000000000000";
// UTC date and time of writing, then the line end.
const std::string kWhen = R"(\t\d{4}-\d\d-\d\d\t\d\d:\d\d:\d\d\r\n)";
const std::string kStamp = R"(\d{4}_\d\d_\d\d_\d{6})";

std::string literal(const std::string& s) {
    return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

}  // namespace

TEST(ArchiveEndToEnd, BytesAndBeaconsWrittenToThePortAreArchivedExactly) {
    test::ScratchDir scratch("kestrel-archive-e2e");
    const fs::path work = scratch / "station";
    const fs::path ini = work / "RS232Settings.ini";
    fs::create_directories(work);
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 9600);

    test::Child decoder({KESTREL_DECODER}, work, scratch / "decoder.out", true);
    ASSERT_TRUE(test::eventually([&] { return pty.peerConfigured() || !decoder.running(); }, std::chrono::seconds(30)))
        << test::readFile(scratch / "decoder.out");
    ASSERT_TRUE(decoder.running()) << test::readFile(scratch / "decoder.out");
    // The settings are read; the file must come back at shut-down.
    fs::remove(ini);

    // FlightTime 2 (1500 ms) and 3 (2600 ms); the beacons differ in their
    // first field only.
    const std::string first = expected::firstBeacon(1500);
    const std::string next = expected::firstBeacon(2600);
    std::string damaged = first;
    damaged.erase(60, 1);  // one byte lost on the line: no beacon
    const std::string stream = std::string("cmd:\r\n\0\0\xff", 9) + first + std::string("\0Bb\x01", 4) + damaged +
                               "noise" + next + " NORTHERN SKY BEACON " + "tail";
    for (std::size_t sent = 0; sent < stream.size();) {
        sent += pty.writeSome(stream.data() + sent, stream.size() - sent);
        if (sent < stream.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    const fs::path telemetry = work / "Telemetry";
    auto logged = [&] {
        auto logs = test::rawByteLogsIn(telemetry);
        return logs.size() == 1 ? fs::file_size(logs[0]) : 0u;
    };
    ASSERT_TRUE(test::eventually([&] { return logged() >= stream.size(); }, std::chrono::seconds(30)))
        << logged() << " of " << stream.size() << " bytes logged";
    EXPECT_EQ(decoder.terminate(), 0) << test::readFile(scratch / "decoder.out");

    // RawByteLog: every byte as it came, under the run's UTC start stamp.
    const auto rawLogs = test::rawByteLogsIn(telemetry);
    ASSERT_EQ(rawLogs.size(), 1u);
    std::smatch start;
    const std::string rawLogName = rawLogs[0].filename().string();
    ASSERT_TRUE(std::regex_match(rawLogName, start, std::regex("log_raw_(" + kStamp + ")_UTC\\.KR7"))) << rawLogName;
    EXPECT_EQ(test::readFile(rawLogs[0]), stream);

    // BeaconTextLog: same stamp; the header, then one line for each whole beacon.
    const auto textLogs = test::filesIn(telemetry / "Decoded");
    ASSERT_EQ(textLogs.size(), 1u);
    EXPECT_EQ(textLogs[0].filename().string(), "KR7_beacon_" + start[1].str() + "_UTC.txt");
    const std::string text = test::readFile(textLogs[0]);
    ASSERT_TRUE(text.starts_with(kHeader)) << text.substr(0, kHeader.size());
    const std::string fields = "\t" + literal(kFirstBeaconFields);
    EXPECT_TRUE(std::regex_match(text.substr(kHeader.size()), std::regex("2" + fields + kWhen + "3" + fields + kWhen)))
        << text.substr(kHeader.size());

    // RawFrameFiles: the 131 bytes of each beacon and a zero byte.
    const auto rawFrames = test::filesIn(telemetry / "raw_data");
    ASSERT_EQ(rawFrames.size(), 2u);
    std::vector<std::string> frames;
    for (const auto& f : rawFrames) {
        EXPECT_TRUE(std::regex_match(f.filename().string(), std::regex("KR7_raw_" + kStamp + "_UTC(_\\d+)?\\.KR7")))
            << f.filename();
        frames.push_back(test::readFile(f));
    }
    std::sort(frames.begin(), frames.end());
    std::vector<std::string> expectedFrames{first + '\0', next + '\0'};
    std::sort(expectedFrames.begin(), expectedFrames.end());
    EXPECT_EQ(frames, expectedFrames);

    // Shut-down wrote the settings it was started with.
    const std::string settings = test::readFile(ini);
    EXPECT_NE(settings.find("[CPort]\r\nPort=" + pty.portName() + "\r\nBaudRate=9600\r\n"), std::string::npos)
        << settings;
}

// A RawByteLog at the file-size limit (ulimit -f, as FAT32's 4 GiB would be)
// goes on in pieces named after it: every byte read is in one piece or
// another, once, every beacon decoded, and the station log says each once.
TEST(ArchiveEndToEnd, ALogAtTheFileSizeLimitGoesOnInPiecesWithNothingLost) {
    test::ScratchDir scratch("kestrel-archive-limit");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 9600);
    constexpr std::size_t kLimit = 256 * 1024;

    test::Child decoder({KESTREL_DECODER}, work, scratch / "decoder.out", true, kLimit);
    ASSERT_TRUE(test::eventually([&] { return pty.peerConfigured() || !decoder.running(); }, std::chrono::seconds(30)))
        << test::readFile(scratch / "decoder.out");
    ASSERT_TRUE(decoder.running()) << test::readFile(scratch / "decoder.out");

    // Noise with a beacon every 40 KiB, one of them across the first limit.
    std::mt19937 draw(42);
    std::string stream;
    int beacons = 0;
    while (stream.size() < 2 * kLimit + kLimit / 2) {
        std::size_t next = stream.size() + 40960;
        if (stream.size() < kLimit && next > kLimit - 60)
            next = kLimit - 60;
        while (stream.size() < next)
            stream += static_cast<char>(draw() % 256);
        stream += expected::firstBeacon(1500);
        ++beacons;
    }
    for (std::size_t sent = 0; sent < stream.size();) {
        sent += pty.writeSome(stream.data() + sent, stream.size() - sent);
        if (sent < stream.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const fs::path telemetry = work / "Telemetry";
    const auto logged = [&] {
        std::uintmax_t n = 0;
        for (const auto& log : test::rawByteLogsIn(telemetry))
            n += fs::file_size(log);
        return n;
    };
    ASSERT_TRUE(test::eventually([&] { return logged() >= stream.size(); }, std::chrono::seconds(60)))
        << logged() << " of " << stream.size() << " bytes logged";
    EXPECT_EQ(decoder.terminate(), 0) << test::readFile(scratch / "decoder.out");

    const auto logs = test::rawByteLogsIn(telemetry);
    ASSERT_EQ(logs.size(), 3u);
    const std::string stem = logs[0].stem().string();
    std::string joined;
    for (std::size_t i = 0; i < logs.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(logs[i].filename().string(), stem + "_part" + std::to_string(i + 1) + ".KR7");
            EXPECT_TRUE(fs::exists(logs[i].string() + ".tidx")) << "its own time index";
        }
        if (i + 1 < logs.size()) {
            EXPECT_EQ(fs::file_size(logs[i]), kLimit);
        }
        joined += test::readFile(logs[i]);
    }
    EXPECT_TRUE(joined == stream) << "bytes lost, twice or out of order";

    const auto textLogs = test::filesIn(telemetry / "Decoded");
    ASSERT_EQ(textLogs.size(), 1u);
    const std::string text = test::readFile(textLogs[0]);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4 + beacons);

    const std::string log = test::readFile(work / "kestrel-decoder.log");
    for (std::size_t i = 1; i < logs.size(); ++i) {
        const std::string said = "RawByteLog " + logs[i - 1].string() +
                                 " cannot grow (I/O error 27 (file too large)): the record goes on in " +
                                 logs[i].string() + "\r\n";
        EXPECT_EQ(log.find(said), log.rfind(said)) << "said once";
        EXPECT_NE(log.find(said), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("not written"), std::string::npos) << log;
}
