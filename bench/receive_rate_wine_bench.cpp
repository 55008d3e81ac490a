// Receive rate of the Windows program under Wine: the same stream of beacons
// and noise as bench_receive_rate, written into COM7's line (a pseudo-terminal
// pair) at a set pace or as fast as it is taken; afterwards the archive must
// hold every byte and every beacon. CPU is counted apart for the program, the
// Wine server that carries its serial I/O and window calls, the prefix's other
// Wine processes, and the X server that shows the window. Each figure is run
// several times (three by default) and the median printed, as one run on a
// shared machine says little.
// Run it through scripts/test-stages/31-windows-gui.sh (KESTREL_WINE_BENCH=1),
// which sets up Wine, the display and the line. With --under-load (the
// stage's load test, scripts/wine-load-test.sh) the machine is kept busy
// beside it: only a lost byte or beacon, or a loss the program reports,
// fails a run; the pace it kept is printed, not judged.

#include "support/Pty.h"
#include "support/StreamCheck.h"
#include "support/WineSupport.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>

using namespace kestrel;
using namespace kestrel::test;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    double achieved = 0;                // bytes/s that reached the RawByteLog
    std::uintmax_t largestBacklog = 0;  // bytes written to the line and not yet logged
    WineCpu share;                      // per cent of one core
    std::vector<std::string> problems;
};

double percent(double cpuSeconds, double wall) { return wall > 0 ? 100 * cpuSeconds / wall : 0; }

struct Options {
    double rate = 25600, seconds = 20;
    int runs = 3;
    bool max = false, underLoad = false;
    std::size_t earlier = 0;  // RawFrameFiles of earlier runs in raw_data
};

Run runOnce(const WineLine& line, const Options& o) {
    const double rate = o.rate, seconds = o.seconds;
    const bool max = o.max;
    Run r;
    ScratchDir scratch("kestrel-wine-bench");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    addEarlierRawFrameFiles(work, o.earlier);
    std::ofstream(work / "RS232Settings.ini", std::ios::binary) << "[CPort]\r\nPort=COM7\r\nBaudRate=256000\r\n";
    const int peer = openAsDecoder(line.peerPath);
    if (peer < 0)
        return r.problems.push_back("peer: " + std::string(std::strerror(errno))), r;
    fcntl(peer, F_SETFL, fcntl(peer, F_GETFL) | O_NONBLOCK);
    struct ClosePeer {
        int fd;
        ~ClosePeer() { ::close(fd); }
    } closePeer{peer};

    const std::string image = fs::path(line.exe).filename().string();
    WineProgram program(line, work);
    if (program.waitForMainWindow().empty())
        return r.problems.push_back("no window\n" + program.output()), r;
    const auto rawLogs = test::rawByteLogsIn(work / "Telemetry");
    if (rawLogs.size() != 1)
        return r.problems.push_back("no RawByteLog"), r;

    Stream stream(870);
    if (!max)
        while (stream.bytes.size() < static_cast<std::size_t>(rate * seconds))
            stream.addUnit();
    std::size_t sent = 0;
    std::uintmax_t logged = 0;
    const WineCpu cpuBefore = wineCpuSeconds(image);
    const auto start = Clock::now();
    auto lastSample = start;
    auto sample = [&] {
        lastSample = Clock::now();
        logged = sizeOf(rawLogs[0]);
        r.largestBacklog = std::max<std::uintmax_t>(r.largestBacklog, sent > logged ? sent - logged : 0);
    };
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (max && elapsed < seconds)
            while (stream.bytes.size() - sent < 65536)
                stream.addUnit();
        if (sent == stream.bytes.size())
            break;
        const std::size_t due =
            max ? stream.bytes.size() : std::min(stream.bytes.size(), static_cast<std::size_t>(rate * elapsed));
        const ssize_t n =
            due > sent ? ::write(peer, stream.bytes.data() + sent, std::min<std::size_t>(due - sent, 4096)) : 0;
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        if (Clock::now() - lastSample >= std::chrono::milliseconds(100))
            sample();
        if (n <= 0 || sent < due) {
            pollfd p{peer, POLLOUT, 0};
            poll(&p, 1, 1);
            if (!max)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    auto lastProgress = Clock::now();
    for (sample(); logged < sent && Clock::now() - lastProgress < std::chrono::seconds(10); sample()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (sizeOf(rawLogs[0]) != logged)
            lastProgress = Clock::now();
    }
    const WineCpu cpu = wineCpuSeconds(image) - cpuBefore;
    const double wall = std::chrono::duration<double>(lastSample - start).count();
    r.achieved = static_cast<double>(std::min<std::uintmax_t>(logged, sent)) / wall;
    r.share = {percent(cpu.program, wall), percent(cpu.server, wall), percent(cpu.otherWine, wall),
               percent(cpu.xServer, wall)};
    const int exitStatus = program.close();
    const ArchiveCheck c = checkArchive(work, stream, sent);
    std::printf(
        "  run: %zu bytes, %zu beacons: %.0f bytes/s, backlog <= %ju B, %zu bytes lost, %zu/%zu beacons "
        "stored; CPU %% program %.1f, wineserver %.1f, other Wine %.1f, X server %.1f\n",
        sent, stream.beaconsIn(sent), r.achieved, r.largestBacklog, c.lostBytes,
        std::min(c.matchingLines, c.matchingRawFiles), stream.beaconsIn(sent), r.share.program, r.share.server,
        r.share.otherWine, r.share.xServer);
    std::fflush(stdout);  // each run as it ends: a long series shows its progress
    r.problems = c.problems;
    // A port the program took for lost lost bytes, even when the reopened port
    // happened to catch up: it must never say so on a line that stayed up.
    if (program.output().find(" lost") != std::string::npos)
        r.problems.push_back("the program reported a loss");
    // -1: still running 20 s after WM_CLOSE.
    if (exitStatus != 0)
        r.problems.push_back("exit status " + std::to_string(exitStatus) + " after WM_CLOSE");
    // What the program said (its reports go to standard error too) tells why.
    if (!r.problems.empty() && !program.output().empty())
        r.problems.push_back("the program said:\n" + program.output());
    if (!max && !o.underLoad && r.achieved < rate * 0.99)
        r.problems.push_back("rate " + std::to_string(static_cast<long>(r.achieved)) + " bytes/s below the pace");
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--max")
            o.max = true;
        else if (a == "--under-load")
            o.underLoad = true;
        else if (a == "--rate" && i + 1 < argc)
            o.rate = std::atof(argv[++i]);
        else if (a == "--seconds" && i + 1 < argc)
            o.seconds = std::atof(argv[++i]);
        else if (a == "--runs" && i + 1 < argc)
            o.runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--earlier" && i + 1 < argc)
            o.earlier = static_cast<std::size_t>(std::atol(argv[++i]));
        else {
            std::fputs(
                "usage: bench_receive_rate_wine [--rate BYTES_PER_S] [--seconds N] [--runs N] [--max] "
                "[--under-load] [--earlier FILES]\n",
                stderr);
            return 2;
        }
    }
    const auto line = WineLine::fromEnvironment();
    if (!line) {
        std::fputs("bench_receive_rate_wine: run through scripts/test-stages/31-windows-gui.sh\n", stderr);
        return 2;
    }
    std::printf(
        "stream:   %s, %d runs of %.0f s, %zu earlier RawFrameFiles in raw_data%s\n",
        o.max ? "as fast as taken" : ("paced at " + std::to_string(static_cast<long>(o.rate)) + " bytes/s").c_str(),
        o.runs, o.seconds, o.earlier, o.underLoad ? ", under load" : "");
    std::vector<double> achieved, backlog, program, server, other, xServer, total;
    std::vector<std::string> problems;
    int failedRuns = 0;
    for (int i = 0; i < o.runs; ++i) {
        const Run r = runOnce(*line, o);
        failedRuns += r.problems.empty() ? 0 : 1;
        for (const auto& p : r.problems)
            problems.push_back("run " + std::to_string(i + 1) + ": " + p);
        achieved.push_back(r.achieved);
        backlog.push_back(static_cast<double>(r.largestBacklog));
        program.push_back(r.share.program);
        server.push_back(r.share.server);
        other.push_back(r.share.otherWine);
        xServer.push_back(r.share.xServer);
        total.push_back(r.share.program + r.share.server + r.share.xServer);
    }
    std::printf(
        "median:   %.0f bytes/s, largest backlog %.0f bytes; CPU %% of one core: program %.1f, wineserver "
        "%.1f, X server %.1f, together %.1f (other Wine processes %.1f)\n",
        median(achieved), median(backlog), median(program), median(server), median(xServer), median(total),
        median(other));
    std::printf("runs with a problem: %d of %d\n", failedRuns, o.runs);
    for (const auto& p : problems)
        std::printf("FAILED: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}
