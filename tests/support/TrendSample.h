#pragma once
// The fixed sample both trend windows are drawn from in the window tests (Qt
// offscreen, Win32 under Wine) and compared with their reference pictures:
// four passes of the simulated satellite an orbit apart, 66 beacons 10 s
// apart each, as a station folder (Telemetry/Decoded/ with one BeaconTextLog,
// and a settings file whose [Share] section places the station). Needs
// kestrel_sim.

#include "SimBeacons.h"

#include "support/Files.h"
#include "telemetry/Archive.h"
#include "telemetry/TimeIndex.h"

#include <filesystem>
#include <fstream>

namespace kestrel::test {

inline constexpr int kTrendSamplePasses = 4;
inline constexpr int kTrendSampleBeaconsPerPass = 66;

// The beacon in the sample under the pointer of the pictures: the 31st of
// the second pass (its receive time, UTC milliseconds).
inline std::int64_t trendSampleStart() { return utcMilliseconds({2026, 12, 0, 2, 8, 5, 40, 0}); }
inline constexpr std::int64_t kTrendSampleOrbitMs = 95 * 60'000;
inline constexpr std::int64_t kTrendSampleBeaconMs = 10'000;

// Writes the sample below `station`; returns the BeaconTextLog's path.
inline std::filesystem::path writeTrendSample(const std::filesystem::path& station) {
    const auto decoded = station / "Telemetry" / "Decoded";
    std::filesystem::create_directories(decoded);
    const auto log = decoded / "KR7_beacon_2026_12_02_080540_UTC.txt";
    std::ofstream out(log, std::ios::binary);
    out << beaconTextLogHeader();
    sim::BeaconSource source({.seed = 3});
    for (int pass = 0; pass < kTrendSamplePasses; ++pass)
        for (int b = 0; b < kTrendSampleBeaconsPerPass; ++b) {
            const std::int64_t sent = pass * kTrendSampleOrbitMs + b * kTrendSampleBeaconMs;
            out << beaconTextLogLine(source.record(double(sent) / 1000),
                                     utcFromMilliseconds(trendSampleStart() + sent));
        }
    std::ofstream(station / "RS232Settings.ini", std::ios::binary)
        << "[CPort]\r\nPort=COM7\r\n[Share]\r\nLatitude=49.73145\r\nLongitude=8.95564\r\n";
    return log;
}

}  // namespace kestrel::test
