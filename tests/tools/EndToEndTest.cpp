// The simulated TNC drives the real program: beacons go in over a pseudo-
// terminal, the program runs offscreen in a scratch working directory, and the
// archive it leaves must hold what the simulator sent.
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace kestrel::test;

namespace {

const std::string kMarker = " NORTHERN SKY BEACON ";

std::vector<std::string> dataLines(const fs::path& log) {
    std::istringstream in(readFile(log));
    std::vector<std::string> lines;
    std::string l;
    for (int n = 0; std::getline(in, l); ++n)
        if (n >= 4)
            lines.push_back(l);  // after the four header lines
    return lines;
}

// The complete frames in a byte stream, found by their layout: "Bb" 110 bytes
// before the marker.
std::vector<std::string> framesIn(const std::string& s) {
    std::vector<std::string> frames;
    for (std::size_t p = s.find(kMarker, 110); p != std::string::npos; p = s.find(kMarker, p + 1))
        if (s.compare(p - 110, 2, "Bb") == 0)
            frames.push_back(s.substr(p - 110, 131));
    return frames;
}

uint32_t u32At(const std::string& s, std::size_t off) {
    uint32_t v;
    std::memcpy(&v, s.data() + off, 4);
    return v;
}

}  // namespace

TEST(EndToEnd, SimulatedTncBeaconsEndUpInTheArchive) {
    ScratchDir scratch("kestrel-e2e");
    const fs::path root = scratch.path();
    const fs::path work = root / "station";
    fs::create_directories(work);

    Child sim({KESTREL_TNC_SIM, "--write-ini", work.string(), "--interval", "0.25", "--noise", "20", "--sent-log",
               (root / "sent.bin").string()},
              root, root / "sim.out", false);
    // The whole file: it exists, empty, a moment before the simulator fills it.
    ASSERT_TRUE(eventually([&] { return readFile(work / "RS232Settings.ini").ends_with("FlowControl=None\r\n"); },
                           std::chrono::seconds(10)))
        << readFile(root / "sim.out");

    Child decoder({KESTREL_DECODER}, work, root / "decoder.out", true);
    const fs::path decoded = work / "Telemetry" / "Decoded";
    auto logLines = [&] {
        auto logs = filesIn(decoded);
        return logs.size() == 1 ? dataLines(logs[0]).size() : 0u;
    };
    ASSERT_TRUE(eventually([&] { return logLines() >= 4 || !decoder.running(); }, std::chrono::seconds(30)))
        << "simulator:\n"
        << readFile(root / "sim.out") << "decoder:\n"
        << readFile(root / "decoder.out");
    ASSERT_TRUE(decoder.running()) << readFile(root / "decoder.out");

    EXPECT_EQ(decoder.terminate(), 0) << readFile(root / "decoder.out");
    EXPECT_EQ(sim.terminate(), 0);

    const std::string sent = readFile(root / "sent.bin");
    auto rawLogs = rawByteLogsIn(work / "Telemetry");
    ASSERT_EQ(rawLogs.size(), 1u);
    const std::string received = readFile(rawLogs[0]);
    ASSERT_FALSE(received.empty());
    // Every byte the program logged came from the simulator, in order, none lost in between.
    EXPECT_NE(sent.find(received), std::string::npos) << received.size() << " bytes logged, " << sent.size() << " sent";

    // One text line and one raw frame file per complete frame that reached the program.
    const std::vector<std::string> frames = framesIn(received);
    auto logs = filesIn(decoded);
    ASSERT_EQ(logs.size(), 1u);
    const std::vector<std::string> lines = dataLines(logs[0]);
    ASSERT_GE(frames.size(), 4u);
    ASSERT_EQ(lines.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::istringstream fields(lines[i]);
        std::string flight, vbat;
        std::getline(fields, flight, '\t');
        std::getline(fields, vbat, '\t');
        EXPECT_EQ(flight, std::to_string(u32At(frames[i], 4))) << "line " << i;
        uint16_t v;
        std::memcpy(&v, frames[i].data() + 20, 2);
        EXPECT_EQ(std::stoi(vbat), v) << "line " << i;
    }
    auto rawFiles = filesIn(work / "Telemetry" / "raw_data");
    ASSERT_EQ(rawFiles.size(), frames.size());
    std::vector<std::string> stored;
    for (auto& f : rawFiles)
        stored.push_back(readFile(f));
    for (const auto& fr : frames)
        EXPECT_NE(std::find(stored.begin(), stored.end(), fr + std::string(1, '\0')), stored.end());

    // The program stores its settings at shut-down, the port the simulator gave it included.
    EXPECT_NE(readFile(work / "RS232Settings.ini").find("Port=/dev/pts/"), std::string::npos);
}
