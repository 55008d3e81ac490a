// kestrel-redecode on SatNOGS DB's telemetry JSON: generated pages as the API
// gives them (100 entries a page, newest first, every member it writes), each
// beacon heard by one to three stations a few seconds apart, saved one page
// after another in one file; the tool run on it to CSV rows with merging, and
// its wall time and peak memory (the child's maximum resident set) measured.
// Runs of twice the frames show whether memory grows with the input. Fails
// below the goal speed or above the memory limit.
//
// Usage: bench_pooled [FRAMES [RUNS [GOAL_MB_S [LIMIT_MB]]]]
//   defaults: 100000 frames, 3 runs each, 20 MB/s, 100 MB

#include "share/SidsForm.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/TextFormat.h"
#include "telemetry/TimeIndex.h"

#include "Ax25Header.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

const char* const kStations[] = {"N0CALL-JN49ar", "DL1ABC-JO62qm", "OK2XYZ-JN79fx", "VK2KR-QF56od",
                                 "W1AW-FN31pr",   "JA1YAA-PM95vq", "ZS6KR-KG44dc",  "LU1KR-GF05tj"};

std::string isoTime(std::int64_t ms) {
    const SystemTime t = utcFromMilliseconds(ms);
    return formatDate(t) + "T" + formatTime(t) + "." + formatUnsigned(t.millisecond, 3) + "000Z";
}

// Writes `frames` entries; returns the file's size and the beacons in it.
std::uint64_t writePages(const fs::path& path, std::uint64_t frames, std::uint64_t& beacons) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + path.string());
    std::mt19937 rng(11);
    const std::string header = sim::ax25UiHeader();
    std::int64_t now = utcMilliseconds(SystemTime{2026, 12, 0, 9, 12, 0, 0, 0});
    std::uint64_t written = 0, inPage = 0;
    std::string text = "[";
    beacons = 0;
    for (std::uint32_t n = 0; written < frames; ++n) {
        BeaconRecord r;
        r.setFlightTime(1000000 - n * 10);
        r.setMilliseconds(n);
        r.setVbat(static_cast<std::uint16_t>(7000 + rng() % 300));
        r.setBx(static_cast<float>(rng() % 900) / 10.0f - 45.0f);
        r.setTcpuRaw(static_cast<std::int16_t>(-6000 + static_cast<int>(rng() % 3000)));
        const std::string beacon = buildBeaconFrame(kTestFrameHeader, r);
        ++beacons;
        now -= 10000;  // newest first, a beacon every 10 s
        const unsigned copies = 1 + rng() % 3;
        for (unsigned c = 0; c < copies && written < frames; ++c, ++written) {
            const char* station = kStations[rng() % 8];
            const bool kiss = rng() % 2;
            if (inPage == 100) {
                text += "]\n[";
                inPage = 0;
            }
            if (inPage++ > 0)
                text += ",";
            text +=
                R"({"sat_id":"ZZZZ-1234-5678-9012-3456","norad_cat_id":99999,"transmitter":"aBcDeFgHiJkLmNoPqRsTuV",)"
                R"("app_source":"sids","decoded":"","frame":")" +
                HexUpper(kiss ? header + beacon : beacon) + R"(","observer":")" + station + R"(","timestamp":")" +
                isoTime(now - c * 1300 - std::int64_t(rng() % 400)) +
                R"(","version":"1.83","observation_id":null,"station_id":null,"associated_satellites":[]})";
            if (text.size() > (1 << 20)) {
                std::fwrite(text.data(), 1, text.size(), f);
                text.clear();
            }
        }
    }
    text += "]\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return fs::file_size(path);
}

struct Run {
    double seconds;
    long maxRssKb;
};

Run runTool(const std::vector<std::string>& args) {
    std::fflush(stdout);  // or the child would write out the parent's buffer again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("kestrel-redecode failed");
    return {seconds, usage.ru_maxrss};
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t frames = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const double goal = argc > 3 ? std::atof(argv[3]) : 20.0;
    const double limitMb = argc > 4 ? std::atof(argv[4]) : 100.0;
    const fs::path dir = fs::temp_directory_path() / ("kestrel-bench-pooled-" + std::to_string(getpid()));
    fs::create_directories(dir);
    int failed = 0;
    try {
        // The frames asked for, then twice as many: memory must not follow.
        for (const std::uint64_t n : {frames, 2 * frames}) {
            std::uint64_t beacons = 0;
            const fs::path pages = dir / "pages.json";
            const std::uint64_t bytes = writePages(pages, n, beacons);
            std::vector<double> rates;
            long rss = 0;
            for (int i = 0; i < runs; ++i) {
                const Run r =
                    runTool({KESTREL_REDECODE, "--quiet", "--csv", (dir / "rows.csv").string(), pages.string()});
                rates.push_back(bytes / 1e6 / r.seconds);
                rss = std::max(rss, r.maxRssKb);
                std::printf("  %llu frames, %.1f MB: %.2f s, %.1f MB/s, peak memory %.1f MB\n",
                            static_cast<unsigned long long>(n), bytes / 1e6, r.seconds, rates.back(), rss / 1024.0);
            }
            std::sort(rates.begin(), rates.end());
            const double median = rates[rates.size() / 2];
            std::string rows;
            {
                std::FILE* f = std::fopen((dir / "rows.csv").string().c_str(), "rb");
                std::uint64_t lines = 0;
                for (int c; f && (c = std::fgetc(f)) != EOF;)
                    lines += c == '\n';
                if (f)
                    std::fclose(f);
                rows = std::to_string(lines - 1);
            }
            std::printf(
                "%llu frames (%.1f MB of JSON, %llu beacons, %s rows): median %.1f MB/s, peak memory %.1f "
                "MB\n",
                static_cast<unsigned long long>(n), bytes / 1e6, static_cast<unsigned long long>(beacons), rows.c_str(),
                median, rss / 1024.0);
            if (rows != std::to_string(beacons)) {
                std::printf("FAILED: %s rows for %llu beacons\n", rows.c_str(),
                            static_cast<unsigned long long>(beacons));
                failed = 1;
            }
            if (n == frames && median < goal) {
                std::printf("FAILED: below the goal of %.0f MB/s\n", goal);
                failed = 1;
            }
            if (rss / 1024.0 > limitMb) {
                std::printf("FAILED: more than %.0f MB of memory\n", limitMb);
                failed = 1;
            }
        }
    } catch (const std::exception& e) {
        std::printf("FAILED: %s\n", e.what());
        failed = 1;
    }
    fs::remove_all(dir);
    return failed;
}
