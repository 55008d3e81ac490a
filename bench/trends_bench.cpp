// The trend window on a year of beacons at one a minute (525,600): the time
// and memory to open it (read the BeaconTextLogs, lay out, draw once), and
// the time each new beacon costs to add and draw, with the Qt window
// offscreen drawing what the plot design lays out. Fails when a goal is
// missed: open < 1 s and < 150 MB, a new beacon < 1 ms (median). Opening is
// judged by the process's CPU time (user and system), which is its wall time
// on a quiet machine with the files cached; both are printed, since the
// build machine's two cores are shared.
//
//   build/bench_trends [--runs N]       makes the archive in a temp folder, runs
//                                       --open N times (default 5) and --live once
//   build/bench_trends --make DIR       writes the year below DIR/Telemetry/Decoded
//   build/bench_trends --open DIR       one opening: milliseconds and peak memory
//   build/bench_trends --live DIR       opened, then 2,000 beacons one by one

#include "SimBeacons.h"

#include "plot/TrendView.h"
#include "support/Files.h"
#include "telemetry/Archive.h"
#include "telemetry/TimeIndex.h"
#include "trends/TrendWindow.h"

#include <QApplication>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace kestrel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kYear = 525'600;
constexpr int kPerLog = 43'800;  // a log a month: a run of the station
constexpr int kLiveBeacons = 2'000;
const std::int64_t kStart = utcMilliseconds({2026, 1, 0, 1, 0, 0, 0, 0});

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}
// User and system time of this process so far.
double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec)) /
           1000;
}

void make(const fs::path& dir) {
    const fs::path decoded = dir / "Telemetry" / "Decoded";
    fs::create_directories(decoded);
    sim::BeaconSource source({.seed = 7});
    std::ofstream out;
    for (int i = 0; i < kYear; ++i) {
        const std::int64_t t = kStart + std::int64_t(i) * 60'000;
        if (i % kPerLog == 0) {
            out.close();
            out.open(decoded / beaconTextLogName(utcFromMilliseconds(t)), std::ios::binary);
            out << beaconTextLogHeader();
        }
        out << beaconTextLogLine(source.record(double(i) * 60), utcFromMilliseconds(t));
    }
}

int open(int argc, char** argv, const fs::path& dir, bool live) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double cpu0 = cpuMs();
    const auto t0 = Clock::now();
    TTrendWindow w;
    w.open(QString::fromStdString(dir.string()));
    const auto read = Clock::now();
    w.show();
    QApplication::processEvents();  // the window laid out: the canvas has its size
    w.view().display();
    const auto laid = Clock::now();
    w.canvas()->repaint();  // drawn once
    const auto t1 = Clock::now();
    std::printf(
        "open %.0f ms of CPU, peak %ld MB, %.0f ms wall, %d beacons (read %.0f ms, laid out %.0f ms, "
        "drawn %.0f ms)\n",
        cpuMs() - cpu0, peakKb() / 1024, ms(t1 - t0), w.beaconCount(), ms(read - t0), ms(laid - read), ms(t1 - laid));
    if (!live)
        return 0;
    sim::BeaconSource source({.seed = 8});
    std::vector<double> addOnly, addDraw, layout;
    for (int i = 0; i < kLiveBeacons; ++i) {
        const std::int64_t t = kStart + std::int64_t(kYear + i) * 60'000;
        const BeaconRecord r = source.record(double(kYear + i) * 60);
        const auto a = Clock::now();
        w.addBeacon(r, utcFromMilliseconds(t));
        const auto b = Clock::now();
        w.view().display();
        const auto laid = Clock::now();
        layout.push_back(ms(laid - b));
        QApplication::processEvents();  // paints what the beacon changed
        const auto c = Clock::now();
        addOnly.push_back(ms(b - a));
        addDraw.push_back(ms(c - a));
    }
    auto report = [](const char* what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("%s: median %.3f ms, 99th %.3f ms, max %.3f ms\n", what, v[v.size() / 2], v[v.size() * 99 / 100],
                    v.back());
        return v[v.size() / 2];
    };
    report("live beacon, add", addOnly);
    report("live beacon, lay out", layout);
    const double median = report("live beacon, add and draw", addDraw);
    std::printf("live median %.3f\n", median);
    return 0;
}

// Runs this program with args; its output.
std::string self(const std::string& args) {
    std::string out;
    if (FILE* p = popen((fs::read_symlink("/proc/self/exe").string() + " " + args).c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) {
        make(argv[2]);
        return 0;
    }
    if (argc == 3 && (std::strcmp(argv[1], "--open") == 0 || std::strcmp(argv[1], "--live") == 0))
        return open(argc, argv, argv[2], std::strcmp(argv[1], "--live") == 0);
    int runs = 5;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0)
        runs = std::max(1, std::atoi(argv[2]));
    test::ScratchDir dir("kestrel-bench-trends");
    make(dir.path());
    std::uintmax_t bytes = 0;
    for (const auto& f : fs::recursive_directory_iterator(dir.path()))
        bytes += f.is_regular_file() ? f.file_size() : 0;
    std::printf("a year of beacons at one a minute: %d beacons, %.0f MB of BeaconTextLogs\n", kYear,
                double(bytes) / 1e6);
    std::vector<double> times, peaks;
    for (int r = 0; r < runs; ++r) {
        const std::string out = self("--open " + dir.str());
        double t = 0, m = 0;
        std::sscanf(out.c_str(), "open %lf ms of CPU, peak %lf MB", &t, &m);
        std::printf("run %d: %s", r + 1, out.c_str());
        times.push_back(t);
        peaks.push_back(m);
    }
    std::sort(times.begin(), times.end());
    std::sort(peaks.begin(), peaks.end());
    const double openMs = times[times.size() / 2], peakMb = peaks[peaks.size() / 2];
    std::printf("open: median %.0f ms of CPU, peak memory median %.0f MB\n", openMs, peakMb);
    const std::string live = self("--live " + dir.str());
    std::fputs(live.c_str(), stdout);
    double liveMs = 1e9;
    if (const auto at = live.find("live median "); at != std::string::npos)
        liveMs = std::atof(live.c_str() + at + 12);
    const bool ok = openMs < 1000 && peakMb < 150 && liveMs < 1;
    std::printf("%s: open < 1000 ms of CPU and < 150 MB, a new beacon < 1 ms (median)\n", ok ? "goals met" : "FAILED");
    return ok ? 0 : 1;
}
