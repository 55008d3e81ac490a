// Throughput of the core receive path: every byte through the frame finder
// into a real RawByteLog and its time index (told the time every 205 bytes,
// as the station does per read chunk), every beacon through the decoder and
// the archive. Then the time index's share of a core at 256000 baud, from
// its parts: a clock reading per read chunk and an entry ten times a second.
// Usage: bench_receive_path [bytes [minimum bytes per second]]

#include "telemetry/Archive.h"
#include "telemetry/Decoder.h"
#include "telemetry/FrameFinder.h"
#include "telemetry/TimeIndex.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace kestrel;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void timeIndexCost(const std::filesystem::path& dir) {
    Archive archive(systemFileSystem(), systemClock());
    archive.openRunFiles((dir / "index").string());
    constexpr int kNotes = 1000000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kNotes; ++i)
        archive.noteReadTime();
    const double perNote = secondsSince(start) / kNotes;

    TimeIndexWriter writer(systemFileSystem());
    writer.open((dir / "entries.KR7").string());
    constexpr int kEntries = 20000;
    std::int64_t ms = utcMilliseconds(systemClock().utcNow());
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kEntries; ++i) {
        ms += 100 + i % 9;
        writer.readTime(static_cast<std::uint32_t>(ms), [ms] { return ms; });
        writer.byteStored(std::uint64_t(i) * 2560 + 205 * (i % 2));
    }
    const double perEntry = secondsSince(start) / kEntries;
    writer.close();
    // 25600 bytes/s in 8 ms chunks: 125 chunks and 10 entries a second; a
    // UART without FIFO hands on every byte alone: 25600 chunks.
    std::printf(
        "time index:   %.0f ns a chunk's tick count, %.1f us an entry: %.3f %% of one core at 256000 baud "
        "(%.3f %% with one-byte chunks); %ju bytes for %d entries\n",
        perNote * 1e9, perEntry * 1e6, 100 * (125 * perNote + 10 * perEntry), 100 * (25600 * perNote + 10 * perEntry),
        std::filesystem::file_size(timeIndexPath((dir / "entries.KR7").string())), kEntries);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 3000000;
    const double goal = argc > 2 ? std::strtod(argv[2], nullptr) : 300000.0;

    const auto dir = std::filesystem::temp_directory_path() / ("kestrel-bench-" + std::to_string(std::rand()));
    std::filesystem::create_directories(dir);

    Archive archive(systemFileSystem(), systemClock());
    Decoder theDecoder(systemClock());
    FrameFinder theFinder;
    archive.openRunFiles(dir.string());

    // One beacon per 1000 bytes, noise between.
    BeaconRecord record;
    record.setGpsOn(1);
    std::string block = buildBeaconFrame(kTestFrameHeader, record);
    while (block.size() < 1000)
        block.push_back(static_cast<char>(block.size() * 31));

    const auto start = std::chrono::steady_clock::now();
    // In chunks of 205 bytes, as the receive path reads them: each chunk's
    // time, the chunk to the RawByteLog, then byte by byte.
    std::string chunk;
    SystemTime utc;  // of the chunk being handled
    std::size_t lineCount = 0;
    for (std::size_t i = 0; i < total; ++i) {
        if (i % 205 == 0) {
            utc = utcFromMilliseconds(archive.noteReadTime());
            chunk.clear();
            for (std::size_t j = i; j < std::min(total, i + 205); ++j)
                chunk.push_back(block[j % block.size()]);
            archive.appendRawBytes(chunk);
        }
        // What the station does with a beacon: counted and its lines made,
        // archived, shown.
        if (const FoundFrame* f =
                theFinder.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(block[i % block.size()]))) {
            lineCount += theDecoder.aDecodeTelemetry1Execute(f->record, utc).size();
            archive.aSaveTempFileExecute(f->record, utc);
            archive.aSaveBinFileExecute(f->raw, utc);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    archive.closeRawByteLog();

    const double rate = static_cast<double>(total) / seconds;
    std::printf("receive path: %zu bytes, %d beacons (%zu lines) in %.3f s: %.0f bytes/s (goal %.0f)\n", total,
                theDecoder.BeaconCounter(), lineCount, seconds, rate, goal);
    timeIndexCost(dir);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rate >= goal ? 0 : 1;
}
