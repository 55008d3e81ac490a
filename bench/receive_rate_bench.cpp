// Receive rate of the running program: a pseudo-terminal stands in for the TNC,
// the real decoder runs offscreen in a fresh working directory, and a stream of
// beacons and noise goes in at a set pace (or as fast as the program takes it).
// Afterwards its archive must hold every byte and every beacon. Each figure is
// run several times (three by default) and the median printed, as one run on a
// shared machine says little. The program paints offscreen: there is no X
// server and no Wine server whose CPU would count beside its own.
//
// The pty queues tens of kilobytes, so what the writer got rid of says little;
// progress is measured on the RawByteLog, which the program writes byte by byte.
//
// In order: the command line; one run (program started, stream sent at the
// pace, progress read from the RawByteLog, CPU counted, archive checked);
// main, which takes the median of the runs.

#include "SimBeacons.h"
#include "SimPort.h"
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/StreamCheck.h"
#include "telemetry/Archive.h"
#include "telemetry/TimeIndex.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace kestrel;
using namespace kestrel::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kDefaultRate = 25600;  // 256000 baud, 10 bits a byte
constexpr double kMaxGoal = 3000000;    // what --max must reach unless --rate says otherwise
// A paced run may end this much below its rate: the last bytes need a moment
// to pass the line.
constexpr double kPacedSlack = 0.01;
// Giving up on bytes that never reach the log: this long without progress.
constexpr auto kStallBound = std::chrono::seconds(10);

struct Options {
    double rate = kDefaultRate;
    bool rateGiven = false;
    double seconds = 60;
    bool max = false;
    bool idle = false;
    bool floor = false;     // cat in place of the program
    std::size_t chunk = 0;  // bytes per write; 0: whatever is due
    unsigned noise = 870;   // mean noise bytes between beacons: a beacon per kilobyte
    bool keep = false;
    int runs = 3;
    std::string decoder = KESTREL_DECODER;
};

const char kUsage[] =
    "usage: bench_receive_rate [--rate BYTES_PER_S] [--chunk N] [--seconds N] [--max]\n"
    "                          [--idle] [--floor] [--noise N] [--runs N] [--decoder PATH] [--keep]\n"
    "Streams beacons and noise into the running decoder through a pseudo-terminal\n"
    "and checks its archive afterwards.\n"
    "  --rate R     pace of the stream (default 25600 bytes/s, 256000 baud); with\n"
    "               --max the least sustained rate that passes (default 3000000)\n"
    "  --chunk N    bytes per write (default: all that is due); --chunk 1 makes\n"
    "               every byte a receive event of its own, as a UART without FIFO\n"
    "  --seconds N  length of the stream (default 60)\n"
    "  --max        write as fast as the program takes the bytes\n"
    "  --idle       send nothing for --seconds; only the CPU share counts\n"
    "  --noise N    mean noise bytes between two beacons (default 870)\n"
    "  --runs N     runs of the figure; the median is printed (default 3)\n"
    "  --decoder P  the program to run (default: the one built with this bench)\n"
    "  --floor      the floor: cat of the line into a file in place of the program\n"
    "  --keep       leave the working directory in place and print its name\n"
    "Fails when a byte or a beacon is missing, the program does not end with 0 on\n"
    "SIGTERM, or the median rate falls short (a paced run by more than 1 %).\n"
    "The CPU share is the program's user + system time over the wall time of the\n"
    "stream, start-up excluded.\n";

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--max") {
            o.max = true;
        } else if (a == "--floor") {
            o.floor = true;
        } else if (a == "--idle") {
            o.idle = true;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--rate" || a == "--seconds" || a == "--noise" || a == "--decoder" || a == "--chunk" ||
                   a == "--runs") {
            const char* v = value();
            if (!v)
                return std::nullopt;
            if (a == "--decoder") {
                o.decoder = v;
                continue;
            }
            char* end = nullptr;
            const double d = std::strtod(v, &end);
            if (*end || d < 0 || (a != "--noise" && d <= 0))
                return std::nullopt;
            if (a == "--rate") {
                o.rate = d;
                o.rateGiven = true;
            } else if (a == "--seconds") {
                o.seconds = d;
            } else if (a == "--runs") {
                o.runs = std::max(1, static_cast<int>(d));
            } else if (a == "--chunk") {
                o.chunk = static_cast<std::size_t>(d);
            } else {
                o.noise = static_cast<unsigned>(d);
            }
        } else {
            return std::nullopt;
        }
    }
    if (o.max && !o.rateGiven)
        o.rate = kMaxGoal;
    return o;
}

struct Run {
    double achieved = 0;  // bytes/s that reached the RawByteLog
    std::uintmax_t largestBacklog = 0;
    double cpuShare = 0;  // per cent of one core
    long peakRssKb = 0;
    std::vector<std::string> problems;
};

Run runOnce(const Options& o) {
    Run r;
    test::ScratchDir scratch("kestrel-bench");
    const fs::path root = scratch.path();
    const fs::path work = root / "station";
    fs::create_directories(work);
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 256000);

    // The floor: the least any reader pays to move the line into a file.
    const std::vector<std::string> argv =
        o.floor ? std::vector<std::string>{"/bin/sh", "-c",
                                           "stty 230400 raw -echo <" + pty.portName() + " && exec cat " +
                                               pty.portName() + " >floor.raw"}
                : std::vector<std::string>{o.decoder};
    test::Child decoder(argv, work, root / "decoder.out", true);
    auto fail = [&](const std::string& why) {
        r.problems.push_back(why + "\n" + test::readFile(root / "decoder.out"));
        return r;
    };
    if (!test::eventually([&] { return pty.peerConfigured() || !decoder.running(); }, std::chrono::seconds(30)) ||
        !decoder.running())
        return fail("the decoder did not open " + pty.portName());
    const auto rawLogs = o.floor ? std::vector<fs::path>{work / "floor.raw"} : test::rawByteLogsIn(work / "Telemetry");
    if (rawLogs.size() != 1 || !test::eventually([&] { return fs::exists(rawLogs[0]); }, std::chrono::seconds(10)))
        return fail("the decoder made no RawByteLog");
    const fs::path rawLog = rawLogs[0];

    Stream stream(o.noise);
    if (o.idle) {
        const ProcessFigures before = figuresOf(decoder.pid());
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
        const ProcessFigures after = figuresOf(decoder.pid());
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const int exitStatus = decoder.terminate();
        r.cpuShare = 100 * (after.cpuSeconds - before.cpuSeconds) / wall;
        std::printf("  idle run: %.1f s, CPU %.3f s (%.2f %% of one core), exit %d\n", wall,
                    after.cpuSeconds - before.cpuSeconds, r.cpuShare, exitStatus);
        if (exitStatus != 0)
            r.problems.push_back("exit status " + std::to_string(exitStatus) + " after SIGTERM");
        return r;
    }
    if (!o.max)
        while (stream.bytes.size() < static_cast<std::size_t>(o.rate * o.seconds))
            stream.addUnit();

    // Writes on schedule; notes the largest backlog between written and logged.
    std::size_t sent = 0;
    std::uintmax_t logged = 0;
    const ProcessFigures atStart = figuresOf(decoder.pid());
    const auto start = Clock::now();
    auto lastSample = start;
    auto sample = [&] {
        lastSample = Clock::now();
        logged = sizeOf(rawLog);
        r.largestBacklog = std::max<std::uintmax_t>(r.largestBacklog, sent > logged ? sent - logged : 0);
    };
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (o.max && elapsed < o.seconds)
            while (stream.bytes.size() - sent < 65536)
                stream.addUnit();
        if (sent == stream.bytes.size())
            break;
        std::size_t due =
            o.max ? stream.bytes.size() : std::min(stream.bytes.size(), static_cast<std::size_t>(o.rate * elapsed));
        if (o.chunk && due > sent && due - sent < o.chunk && due < stream.bytes.size())
            due = sent;  // not yet a whole write
        const std::size_t want = o.chunk ? std::min(o.chunk, due - std::min(due, sent)) : due - std::min(due, sent);
        const std::size_t n = want ? pty.writeSome(stream.bytes.data() + sent, want) : 0;
        sent += n;
        if (Clock::now() - lastSample >= std::chrono::milliseconds(100)) {
            sample();
            if (!decoder.running())
                return fail("the decoder ended while the stream went in");
        }
        if (o.chunk && n)
            continue;  // one write a chunk; the next may be due already
        if (n == 0 || sent < due) {
            pollfd p{pty.fd(), POLLOUT, 0};
            poll(&p, 1, 1);
            if (!o.max)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Until the log holds every byte, or it stalls.
    auto lastProgress = Clock::now();
    for (sample(); logged < sent; sample()) {
        if (!decoder.running())
            return fail("the decoder ended before the stream was received");
        if (Clock::now() - lastProgress > kStallBound)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (sizeOf(rawLog) != logged)
            lastProgress = Clock::now();
    }
    const double seconds = std::chrono::duration<double>(lastSample - start).count();
    r.achieved = static_cast<double>(std::min<std::uintmax_t>(logged, sent)) / seconds;

    ProcessFigures figures = figuresOf(decoder.pid());
    figures.cpuSeconds -= atStart.cpuSeconds;
    r.cpuShare = 100 * figures.cpuSeconds / seconds;
    r.peakRssKb = figures.peakRssKb;
    const int exitStatus = o.floor ? 0 : decoder.terminate();
    ArchiveCheck c;
    if (o.floor)
        c.lostBytes = sent - std::min<std::uintmax_t>(sent, logged);
    else
        c = checkArchive(work, stream, sent);

    std::printf(
        "  run: %zu bytes, %zu beacons: %.0f bytes/s, backlog <= %ju B, %zu bytes lost, %zu/%zu beacons "
        "stored; exit %d, peak RSS %ld kB, CPU %.1f s (%.1f %% of one core)\n",
        sent, stream.beaconsIn(sent), r.achieved, r.largestBacklog, c.lostBytes,
        std::min(c.matchingLines, c.matchingRawFiles), stream.beaconsIn(sent), exitStatus, r.peakRssKb,
        figures.cpuSeconds, r.cpuShare);
    if (!o.floor) {
        const std::string index = test::readFile(timeIndexPath(rawLog.string()));
        const TimeIndexContents entries = parseTimeIndex(index);
        std::printf("index:    %zu bytes (%.3f %% of the RawByteLog), %zu entries (%.1f a second), %zu torn\n",
                    index.size(),
                    logged ? 100.0 * static_cast<double>(index.size()) / static_cast<double>(logged) : 0.0,
                    entries.entries.size(), static_cast<double>(entries.entries.size()) / seconds, entries.dropped);
    }

    r.problems = c.problems;
    if (exitStatus != 0)
        r.problems.push_back("exit status " + std::to_string(exitStatus) + " after SIGTERM");
    if (o.keep) {
        std::printf("  kept:  %s\n", root.c_str());
        scratch.keep();
    }
    if (!r.problems.empty())
        r.problems.back() += "\n" + test::readFile(root / "decoder.out");
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parse(argc, argv);
    if (!parsed) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const Options& o = *parsed;
    std::printf("stream:   %s, %s, %d runs of %.0f s\n",
                o.idle  ? "nothing (idle)"
                : o.max ? "as fast as taken"
                        : ("paced at " + std::to_string(static_cast<long>(o.rate)) + " bytes/s").c_str(),
                o.chunk ? (std::to_string(o.chunk) + "-byte writes").c_str() : "writes of what is due", o.runs,
                o.seconds);
    std::vector<double> achieved, backlog, cpu;
    std::vector<std::string> problems;
    for (int i = 0; i < o.runs; ++i) {
        const Run r = runOnce(o);
        for (const auto& p : r.problems)
            problems.push_back("run " + std::to_string(i + 1) + ": " + p);
        achieved.push_back(r.achieved);
        backlog.push_back(static_cast<double>(r.largestBacklog));
        cpu.push_back(r.cpuShare);
    }
    if (o.idle)
        std::printf("median:   CPU %.2f %% of one core\n", median(cpu));
    else
        std::printf("median:   %.0f bytes/s, largest backlog %.0f bytes, program CPU %.1f %% of one core\n",
                    median(achieved), median(backlog), median(cpu));
    const double floor = o.max ? o.rate : o.rate * (1 - kPacedSlack);
    if (!o.idle && median(achieved) < floor)
        problems.push_back("median rate " + std::to_string(static_cast<long>(median(achieved))) + " bytes/s below " +
                           std::to_string(static_cast<long>(floor)));
    for (const auto& p : problems)
        std::printf("FAILED: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}
