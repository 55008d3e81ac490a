// Receive rate of the running program: a pseudo-terminal stands in for the TNC,
// the real decoder runs offscreen in a fresh working directory, and a stream of
// beacons and noise goes in at a set pace (or as fast as the program takes it).
// Afterwards its archive must hold every byte and every beacon.
//
// The pty queues tens of kilobytes, so what the writer got rid of says little;
// progress is measured on the RawByteLog, which the program writes byte by byte.

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
constexpr double kMaxGoal = 300000;     // what --max must reach unless --rate says otherwise
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
    std::size_t chunk = 0;  // bytes per write; 0: whatever is due
    unsigned noise = 870;  // mean noise bytes between beacons: a beacon per kilobyte
    bool keep = false;
    std::string decoder = KESTREL_DECODER;
};

const char kUsage[] =
    "usage: bench_receive_rate [--rate BYTES_PER_S] [--chunk N] [--seconds N] [--max]\n"
    "                          [--idle] [--noise N] [--decoder PATH] [--keep]\n"
    "Streams beacons and noise into the running decoder through a pseudo-terminal\n"
    "and checks its archive afterwards.\n"
    "  --rate R     pace of the stream (default 25600 bytes/s, 256000 baud); with\n"
    "               --max the least sustained rate that passes (default 300000)\n"
    "  --chunk N    bytes per write (default: all that is due); --chunk 1 makes\n"
    "               every byte a receive event of its own, as a UART without FIFO\n"
    "  --seconds N  length of the stream (default 60)\n"
    "  --max        write as fast as the program takes the bytes\n"
    "  --idle       send nothing for --seconds; only the CPU share counts\n"
    "  --noise N    mean noise bytes between two beacons (default 870)\n"
    "  --decoder P  the program to run (default: the one built with this bench)\n"
    "  --keep       leave the working directory in place and print its name\n"
    "Fails when a byte or a beacon is missing, the program does not end with 0 on\n"
    "SIGTERM, or the rate falls short (a paced run by more than 1 %).\n"
    "The CPU share is the program's user + system time over the wall time of the\n"
    "stream, start-up excluded.\n";

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--max") {
            o.max = true;
        } else if (a == "--idle") {
            o.idle = true;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--rate" || a == "--seconds" || a == "--noise" || a == "--decoder" || a == "--chunk") {
            const char* v = value();
            if (!v) return std::nullopt;
            if (a == "--decoder") {
                o.decoder = v;
                continue;
            }
            char* end = nullptr;
            const double d = std::strtod(v, &end);
            if (*end || d < 0 || (a != "--noise" && d <= 0)) return std::nullopt;
            if (a == "--rate") {
                o.rate = d;
                o.rateGiven = true;
            } else if (a == "--seconds") {
                o.seconds = d;
            } else if (a == "--chunk") {
                o.chunk = static_cast<std::size_t>(d);
            } else {
                o.noise = static_cast<unsigned>(d);
            }
        } else {
            return std::nullopt;
        }
    }
    if (o.max && !o.rateGiven) o.rate = kMaxGoal;
    return o;
}


}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parse(argc, argv);
    if (!parsed) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const Options& o = *parsed;

    test::ScratchDir scratch("kestrel-bench");
    const fs::path root = scratch.path();
    const fs::path work = root / "station";
    fs::create_directories(work);
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 256000);

    test::Child decoder({o.decoder}, work, root / "decoder.out", true);
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "bench_receive_rate: %s\n%s", why.c_str(), test::readFile(root / "decoder.out").c_str());
        return 1;
    };
    if (!test::eventually([&] { return pty.peerConfigured() || !decoder.running(); }, std::chrono::seconds(30)) ||
        !decoder.running())
        return fail("the decoder did not open " + pty.portName());
    const auto rawLogs = test::rawByteLogsIn(work / "Telemetry");
    if (rawLogs.size() != 1) return fail("the decoder made no RawByteLog");
    const fs::path rawLog = rawLogs[0];

    Stream stream(o.noise);
    if (o.idle) {
        const ProcessFigures before = figuresOf(decoder.pid());
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
        const ProcessFigures after = figuresOf(decoder.pid());
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const int exitStatus = decoder.terminate();
        std::printf("idle:     %.1f s, CPU %.3f s (%.2f %% of one core), exit %d\n", wall,
                    after.cpuSeconds - before.cpuSeconds, 100 * (after.cpuSeconds - before.cpuSeconds) / wall,
                    exitStatus);
        return exitStatus == 0 ? 0 : 1;
    }
    if (!o.max)
        while (stream.bytes.size() < static_cast<std::size_t>(o.rate * o.seconds)) stream.addUnit();

    // Writes on schedule; notes the largest backlog between written and logged.
    std::size_t sent = 0;
    std::uintmax_t logged = 0, largestBacklog = 0;
    const ProcessFigures atStart = figuresOf(decoder.pid());
    const auto start = Clock::now();
    auto lastSample = start;
    auto sample = [&] {
        lastSample = Clock::now();
        logged = sizeOf(rawLog);
        largestBacklog = std::max<std::uintmax_t>(largestBacklog, sent > logged ? sent - logged : 0);
    };
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (o.max && elapsed < o.seconds)
            while (stream.bytes.size() - sent < 65536) stream.addUnit();
        if (sent == stream.bytes.size()) break;
        std::size_t due =
            o.max ? stream.bytes.size() : std::min(stream.bytes.size(), static_cast<std::size_t>(o.rate * elapsed));
        if (o.chunk && due > sent && due - sent < o.chunk && due < stream.bytes.size()) due = sent;  // not yet a whole write
        const std::size_t want = o.chunk ? std::min(o.chunk, due - std::min(due, sent)) : due - std::min(due, sent);
        const std::size_t n = want ? pty.writeSome(stream.bytes.data() + sent, want) : 0;
        sent += n;
        if (Clock::now() - lastSample >= std::chrono::milliseconds(100)) {
            sample();
            if (!decoder.running()) return fail("the decoder ended while the stream went in");
        }
        if (o.chunk && n) continue;  // one write a chunk; the next may be due already
        if (n == 0 || sent < due) {
            pollfd p{pty.fd(), POLLOUT, 0};
            poll(&p, 1, 1);
            if (!o.max) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Until the log holds every byte, or it stalls.
    auto lastProgress = Clock::now();
    for (sample(); logged < sent; sample()) {
        if (!decoder.running()) return fail("the decoder ended before the stream was received");
        if (Clock::now() - lastProgress > kStallBound) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (sizeOf(rawLog) != logged) lastProgress = Clock::now();
    }
    const double seconds = std::chrono::duration<double>(lastSample - start).count();
    const double achieved = static_cast<double>(std::min<std::uintmax_t>(logged, sent)) / seconds;

    ProcessFigures figures = figuresOf(decoder.pid());
    figures.cpuSeconds -= atStart.cpuSeconds;
    const int exitStatus = decoder.terminate();
    const ArchiveCheck c = checkArchive(work, stream, sent);

    std::printf("stream:   %zu bytes, %zu beacons, %s, %s\n", sent, stream.beaconsIn(sent),
                o.max ? "as fast as taken" : ("paced at " + std::to_string(static_cast<long>(o.rate)) + " bytes/s").c_str(),
                o.chunk ? (std::to_string(o.chunk) + "-byte writes").c_str() : "writes of what is due");
    std::printf("received: %ju bytes in %.2f s: %.0f bytes/s (largest backlog %ju bytes)\n", logged, seconds,
                achieved, largestBacklog);
    std::printf("archive:  %zu bytes lost; %zu beacons in the BeaconTextLog, %zu RawFrameFiles match\n", c.lostBytes,
                c.matchingLines, c.matchingRawFiles);
    const std::string index = test::readFile(timeIndexPath(rawLog.string()));
    const TimeIndexContents entries = parseTimeIndex(index);
    std::printf("index:    %zu bytes (%.3f %% of the RawByteLog), %zu entries (%.1f a second), %zu torn\n",
                index.size(), logged ? 100.0 * static_cast<double>(index.size()) / static_cast<double>(logged) : 0.0,
                entries.entries.size(), static_cast<double>(entries.entries.size()) / seconds, entries.dropped);
    std::printf("decoder:  exit %d, peak RSS %ld kB, CPU %.1f s (%.0f %% of one core)\n", exitStatus,
                figures.peakRssKb, figures.cpuSeconds, 100 * figures.cpuSeconds / seconds);

    std::vector<std::string> problems = c.problems;
    if (exitStatus != 0) problems.push_back("exit status " + std::to_string(exitStatus) + " after SIGTERM");
    const double floor = o.max ? o.rate : o.rate * (1 - kPacedSlack);
    if (achieved < floor)
        problems.push_back("rate " + std::to_string(static_cast<long>(achieved)) + " bytes/s below " +
                           std::to_string(static_cast<long>(floor)));
    if (o.keep) {
        std::printf("kept:     %s\n", root.c_str());
        scratch.keep();
    }
    for (const auto& p : problems) std::printf("FAILED: %s\n", p.c_str());
    if (!problems.empty()) std::fputs(test::readFile(root / "decoder.out").c_str(), stdout);
    return problems.empty() ? 0 : 1;
}
