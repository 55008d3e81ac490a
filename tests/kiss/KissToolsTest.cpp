// The simulated TNC's KISS traffic and kestrel-redecode on a KISS RawByteLog.

#include "kiss/KissDeframer.h"

#include "support/Beacons.h"
#include "redecode/Redecode.h"
#include "SimBeacons.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct KissTraffic {
    std::string stream;
    std::vector<std::string> beacons;  // the frames sent, in order
};

KissTraffic simulatedKissTraffic(int count) {
    sim::BeaconOptions options;
    options.escapeBytes = true;
    options.noiseBytes = 8;
    sim::BeaconSource source(options);
    sim::KissWrapper wrapper(true, 7);
    KissTraffic t;
    for (int i = 0; i < count; ++i) {
        const auto tx = source.nextTransmission(i * 2.0);
        t.beacons.push_back(tx.bytes.substr(0, kBeaconFrameSize));
        t.stream += wrapper.wrap(tx.bytes);
    }
    return t;
}

}  // namespace

TEST(KissToolsTest, SimulatedTncTrafficGivesEveryBeaconOnceAndUnchanged) {
    const KissTraffic t = simulatedKissTraffic(40);
    KissDeframer deframer;
    CollectingHost host;
    deframer.Feed(t.stream, [&](std::string_view f) { host.feed(f); });
    ASSERT_EQ(host.frames.size(), t.beacons.size());
    for (std::size_t i = 0; i < t.beacons.size(); ++i)
        EXPECT_EQ(host.frames[i], rawFrameOf(t.beacons[i])) << i;
    EXPECT_GT(deframer.Counters().otherPort, 0u) << "other ports' copies were sent and dropped";
}

TEST(KissToolsTest, RedecodeDeframesAKissRawByteLog) {
    const KissTraffic t = simulatedKissTraffic(25);
    const auto dir = std::filesystem::temp_directory_path() / "kestrel-kiss-redecode";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "log_raw_2026_12_09_032207_UTC.KR7").string();
    std::ofstream(log, std::ios::binary) << t.stream;

    std::vector<std::uint32_t> flightTimes;
    redecode::Sinks sinks;
    sinks.beacon = [&](const BeaconLogEntry& e) { flightTimes.push_back(e.flightTime); };
    const auto summary = redecode::redecodeRawByteLog(log, SystemTime{}, sinks);
    EXPECT_TRUE(summary.kiss);
    ASSERT_EQ(flightTimes.size(), t.beacons.size());
    for (std::size_t i = 0; i < t.beacons.size(); ++i)
        EXPECT_EQ(flightTimes[i], BeaconRecord::fromBytes(t.beacons[i].data() + kFrameRecordOffset).FlightTime());

    sinks.framing = redecode::Framing::Plain;  // the escapes then hide beacons
    flightTimes.clear();
    EXPECT_FALSE(redecode::redecodeRawByteLog(log, SystemTime{}, sinks).kiss);
    EXPECT_LT(flightTimes.size(), t.beacons.size());
    std::filesystem::remove_all(dir);
}
