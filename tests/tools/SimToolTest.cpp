// The simulator as a program: its options, its replay and its stopping.
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace kestrel::test;

namespace {

// The port named in the settings file the simulator wrote.
std::string portIn(const fs::path& ini) {
    const std::string text = readFile(ini);
    const auto at = text.find("Port=") + 5;
    return text.substr(at, text.find('\r', at) - at);
}

// The simulator has written the whole file: it exists, empty, a moment before.
bool iniWritten(const fs::path& ini) { return readFile(ini).ends_with("FlowControl=None\r\n"); }

// Plays the decoder on that port and reads until want bytes came or the bound
// passed.
std::string connectAndRead(const fs::path& ini, std::size_t want) {
    const std::string port = portIn(ini);
    int fd = openAsDecoder(port);
    if (fd < 0)
        return "cannot open " + port;
    std::string got = readFor(fd, want, std::chrono::seconds(10));
    close(fd);
    return got;
}

int runToEnd(Child& c) {
    eventually([&] { return !c.running(); }, std::chrono::seconds(20));
    return c.terminate();
}

}  // namespace

TEST(SimTool, HelpAndBadOptions) {
    ScratchDir s("kestrel-simtool");
    Child help({KESTREL_TNC_SIM, "--help"}, s.path(), s / "help.out", false);
    EXPECT_EQ(runToEnd(help), 0);
    EXPECT_NE(readFile(s / "help.out").find("--replay FILE"), std::string::npos);

    Child bad({KESTREL_TNC_SIM, "--interval", "soon"}, s.path(), s / "bad.out", false);
    EXPECT_EQ(runToEnd(bad), 2);
    EXPECT_NE(readFile(s / "bad.out").find("bad value 'soon' for --interval"), std::string::npos);

    Child missing({KESTREL_TNC_SIM, "--replay", (s / "none.KR7").string()}, s.path(), s / "missing.out", false);
    EXPECT_EQ(runToEnd(missing), 1);
    EXPECT_NE(readFile(s / "missing.out").find("cannot read"), std::string::npos);
}

TEST(SimTool, ReplaysARawByteLogWholeOnceTheDecoderOpens) {
    ScratchDir s("kestrel-simtool");
    std::string log;
    for (int i = 0; i < 3000; ++i)
        log += static_cast<char>((i * 7) & 0xFF);
    writeFile(s / "log_raw.KR7", log);

    Child sim({KESTREL_TNC_SIM, "--write-ini", s.path().string(), "--replay", (s / "log_raw.KR7").string(), "--rate",
               "20000"},
              s.path(), s / "sim.out", false);
    ASSERT_TRUE(eventually([&] { return iniWritten(s / "RS232Settings.ini"); }, std::chrono::seconds(10)));
    EXPECT_EQ(connectAndRead(s / "RS232Settings.ini", log.size()), log);
    EXPECT_EQ(runToEnd(sim), 0);
    EXPECT_NE(readFile(s / "sim.out").find("replay finished: 3000 bytes"), std::string::npos);
}

TEST(SimTool, SendsTheCountedBeaconsAndLogsThem) {
    ScratchDir s("kestrel-simtool");
    Child sim({KESTREL_TNC_SIM, "--write-ini", s.path().string(), "--count", "3", "--interval", "0.05", "--sent-log",
               (s / "sent.bin").string()},
              s.path(), s / "sim.out", false);
    ASSERT_TRUE(eventually([&] { return iniWritten(s / "RS232Settings.ini"); }, std::chrono::seconds(10)));
    const std::string got = connectAndRead(s / "RS232Settings.ini", 3 * 131);
    EXPECT_EQ(runToEnd(sim), 0);
    EXPECT_EQ(got.size(), 3u * 131);
    EXPECT_EQ(readFile(s / "sent.bin"), got);
    EXPECT_NE(readFile(s / "sim.out").find("3 beacons (0 damaged)"), std::string::npos);
}

TEST(SimTool, ListensOnlyWithCountZeroAndStopsCleanlyOnSigterm) {
    ScratchDir s("kestrel-simtool");
    Child sim({KESTREL_TNC_SIM, "--write-ini", s.path().string(), "--count", "0"}, s.path(), s / "sim.out", false);
    ASSERT_TRUE(eventually([&] { return readFile(s / "sim.out").find("waiting for the decoder") != std::string::npos; },
                           std::chrono::seconds(10)));
    int fd = openAsDecoder(portIn(s / "RS232Settings.ini"));
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "AT\r", 3), 3);
    EXPECT_TRUE(eventually(
        [&] { return readFile(s / "sim.out").find("<- 3 bytes: \"AT\\r\"  [41 54 0D]") != std::string::npos; },
        std::chrono::seconds(10)))
        << readFile(s / "sim.out");
    EXPECT_TRUE(sim.running()) << "listening goes on";
    EXPECT_EQ(sim.terminate(), 0);
    close(fd);
    EXPECT_NE(readFile(s / "sim.out").find("stopped: 0 bytes sent, 0 beacons (0 damaged), 3 bytes received"),
              std::string::npos);
}

// A station's settings file: the simulator sets the port and the line source
// and keeps everything else, [Share] and comments included.
TEST(SimTool, WriteIniKeepsTheStationsOtherSettings) {
    ScratchDir s("kestrel-simtool");
    const std::string share =
        "; my station\r\n[Share]\r\nUrl=https://db.example.org/api/telemetry/\r\nNoradId=12345\r\nCallsign=DL1ABC\r\n"
        "Latitude=49.7\r\nLongitude=8.9\r\n";
    writeFile(s / "RS232Settings.ini", share +
                                           "[CPort]\r\nPort=/dev/ttyUSB0\r\nBaudRate=1200\r\n[Line]\r\n"
                                           "Source=KISS TCP\r\nHost=tnc.local\r\nTcpPort=8010\r\n");
    Child sim({KESTREL_TNC_SIM, "--write-ini", s.path().string(), "--count", "0"}, s.path(), s / "sim.out", false);
    ASSERT_TRUE(eventually([&] { return readFile(s / "sim.out").find("settings: ") != std::string::npos; },
                           std::chrono::seconds(10)))
        << readFile(s / "sim.out");
    EXPECT_EQ(sim.terminate(), 0);
    const std::string ini = readFile(s / "RS232Settings.ini");
    EXPECT_EQ(ini.rfind(share, 0), 0u) << ini;
    EXPECT_NE(ini.find("Port=/dev/pts/"), std::string::npos) << ini;
    EXPECT_NE(ini.find("BaudRate=9600\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Source=Serial\r\nHost=tnc.local\r\nTcpPort=8010\r\n"), std::string::npos) << ini;
}
