// Throughput of kestrel-redecode's work: a generated RawByteLog and its time
// index (an entry per 2460 or 2665 bytes, as 256000 baud gives ten a second) decoded
// again into a fresh Telemetry/ tree (and, second, into CSV rows only), with
// the tool's own code, every beacon timed from the index. Fails when the tree
// run is below the goal.
// Usage: bench_redecode [megabytes [bytes per beacon [goal MB/s]]] [--no-index]
// (--no-index: every beacon stamped with the name's time, for comparison)

#include "redecode/Redecode.h"

#include "telemetry/TimeIndex.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

// Beacons with changing telemetry, each followed by line noise; now and then a
// damaged beacon (a byte lost) or a marker alone.
void writeLog(const fs::path& path, std::uint64_t total, std::uint32_t bytesPerBeacon, std::uint64_t& beacons) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + path.string());
    std::mt19937 rng(7);
    std::string chunk;
    std::uint64_t written = 0;
    beacons = 0;
    for (std::uint32_t t = 0; written < total; ++t) {
        BeaconRecord r;
        r.setFlightTime(t * 10);
        r.setVbat(static_cast<std::uint16_t>(7000 + rng() % 300));
        r.setIin(static_cast<std::uint16_t>(rng() % 900));
        r.setBx(static_cast<float>(rng() % 900) / 10.0f - 45.0f);
        r.setTcpuRaw(static_cast<std::int16_t>(-6000 + static_cast<int>(rng() % 3000)));
        r.setGpsOn(static_cast<std::uint8_t>(rng() % 2));
        chunk = buildBeaconFrame(kTestFrameHeader, r);
        if (rng() % 50 == 0)
            chunk.erase(40, 1);
        else
            ++beacons;
        if (rng() % 100 == 0)
            chunk += std::string(120, 'x') + std::string(TrailerMarker);
        const std::uint32_t noise =
            bytesPerBeacon > kBeaconFrameSize ? rng() % (2 * (bytesPerBeacon - kBeaconFrameSize)) : 0;
        for (std::uint32_t i = 0; i < noise; ++i)
            chunk.push_back(static_cast<char>(rng()));
        std::fwrite(chunk.data(), 1, chunk.size(), f);
        written += chunk.size();
    }
    std::fclose(f);
}

// Entries as the station writes them for a steady 25600 bytes/s.
std::vector<TimeIndexEntry> writeIndex(const fs::path& log) {
    std::vector<TimeIndexEntry> entries;
    const std::uint64_t size = fs::file_size(log);
    std::string bytes(kTimeIndexHeader);
    TimeIndexEncoder encoder;
    std::int64_t ms = utcMilliseconds({2024, 3, 2, 5, 14, 15, 7, 0});
    // Chunks of about 205 bytes every 8 ms: entries 100 to 108 ms apart.
    for (std::uint64_t offset = 0, i = 0; offset < size;
         offset += 2460 + 205 * (i % 2), ms += 100 + std::int64_t(i % 9), ++i) {
        entries.push_back({offset, ms});
        bytes += encoder.encode(entries.back(), false);
        encoder.stored(entries.back());
    }
    std::FILE* f = std::fopen(timeIndexPath(log.string()).c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write the time index");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    // Read back as the tool does.
    return parseTimeIndex(bytes).entries;
}

double run(const fs::path& log, const redecode::Sinks& sinks, redecode::Summary& summary) {
    const auto start = std::chrono::steady_clock::now();
    summary = redecode::redecodeRawByteLog(log.string(), {2024, 3, 2, 5, 14, 15, 7, 0}, sinks);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool withIndex = !(argc > 1 && std::string(argv[argc - 1]) == "--no-index");
    if (!withIndex)
        --argc;
    const double megabytes = argc > 1 ? std::strtod(argv[1], nullptr) : 256;
    const auto bytesPerBeacon = static_cast<std::uint32_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4096);
    const double goal = argc > 3 ? std::strtod(argv[3], nullptr) : 50;

    std::random_device rd;
    const fs::path dir = fs::temp_directory_path() / ("kestrel-bench-redecode-" + std::to_string(rd()));
    fs::create_directories(dir);
    const fs::path log = dir / "log_raw_2024_03_05_141507_UTC.KR7";
    int status = 0;
    try {
        std::uint64_t sent = 0;
        writeLog(log, static_cast<std::uint64_t>(megabytes * 1e6), bytesPerBeacon, sent);
        const auto indexStart = std::chrono::steady_clock::now();
        const std::vector<TimeIndexEntry> times = writeIndex(log);
        const double mb = static_cast<double>(fs::file_size(log)) / 1e6;
        std::printf("time index: %zu entries, %ju bytes (%.3f %% of the log), written and read in %.3f s\n",
                    times.size(), fs::file_size(timeIndexPath(log.string())),
                    100.0 * static_cast<double>(fs::file_size(timeIndexPath(log.string()))) / (mb * 1e6),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - indexStart).count());

        redecode::Summary s;
        redecode::Sinks tree;
        tree.outDir = (dir / "out").string();
        if (withIndex)
            tree.times = times;
        const double treeSeconds = run(log, tree, s);
        const double rate = mb / treeSeconds;
        std::printf(
            "redecode to a Telemetry tree: %.1f MB, %llu beacons (%llu rejected) in %.2f s: %.1f MB/s, "
            "%.0f beacons/s (goal %.0f MB/s)\n",
            mb, static_cast<unsigned long long>(s.beacons), static_cast<unsigned long long>(s.rejected), treeSeconds,
            rate, static_cast<double>(s.beacons) / treeSeconds, goal);
        if (s.beacons != sent) {
            std::printf("FAILED: %llu beacons written, %llu decoded\n", static_cast<unsigned long long>(sent),
                        static_cast<unsigned long long>(s.beacons));
            status = 1;
        }
        if (rate < goal)
            status = 1;

        std::uint64_t csvBytes = 0;
        redecode::Sinks csv;
        if (withIndex)
            csv.times = times;
        csv.beacon = [&csvBytes](const BeaconLogEntry& e) { csvBytes += redecode::csvRow(e).size(); };
        const double csvSeconds = run(log, csv, s);
        std::printf("redecode to CSV rows only:    %.1f MB, %llu beacons in %.2f s: %.1f MB/s (%.1f MB of CSV)\n", mb,
                    static_cast<unsigned long long>(s.beacons), csvSeconds, mb / csvSeconds,
                    static_cast<double>(csvBytes) / 1e6);
    } catch (const std::exception& e) {
        std::printf("FAILED: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return status;
}
