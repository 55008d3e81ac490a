// Receive rate of the Windows program under Wine: the same stream of beacons
// and noise as bench_receive_rate, written into COM7's line (a pseudo-terminal
// pair) at a set pace or as fast as it is taken; afterwards the archive must
// hold every byte and every beacon. CPU is that of all of the prefix's Wine
// processes (the program and the Wine server that carries its serial I/O).
// Run it through scripts/test-stages/31-windows-gui.sh (KESTREL_WINE_BENCH=1),
// which sets up Wine, the display and the line.

#include "support/Pty.h"
#include "support/StreamCheck.h"
#include "support/WineSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>

using namespace kestrel;
using namespace kestrel::test;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    double rate = 25600, seconds = 20;
    bool max = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--max") max = true;
        else if (a == "--rate" && i + 1 < argc) rate = std::atof(argv[++i]);
        else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else {
            std::fputs("usage: bench_receive_rate_wine [--rate BYTES_PER_S] [--seconds N] [--max]\n", stderr);
            return 2;
        }
    }
    const auto line = WineLine::fromEnvironment();
    if (!line) {
        std::fputs("bench_receive_rate_wine: run through scripts/test-stages/31-windows-gui.sh\n", stderr);
        return 2;
    }
    ScratchDir scratch("kestrel-wine-bench");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    std::ofstream(work / "RS232Settings.ini", std::ios::binary) << "[CPort]\r\nPort=COM7\r\nBaudRate=256000\r\n";
    const int peer = openAsDecoder(line->peerPath);
    if (peer < 0) return std::perror("peer"), 1;
    fcntl(peer, F_SETFL, fcntl(peer, F_GETFL) | O_NONBLOCK);

    WineProgram program(*line, work);
    if (program.waitForMainWindow().empty()) {
        std::fprintf(stderr, "bench_receive_rate_wine: no window\n%s", program.output().c_str());
        return 1;
    }
    const auto rawLogs = rawByteLogsIn(work / "Telemetry");
    if (rawLogs.size() != 1) return std::fputs("no RawByteLog\n", stderr), 1;

    Stream stream(870);
    if (!max)
        while (stream.bytes.size() < static_cast<std::size_t>(rate * seconds)) stream.addUnit();
    std::size_t sent = 0;
    std::uintmax_t logged = 0, largestBacklog = 0;
    const double cpuBefore = wineCpuSeconds();
    const auto start = Clock::now();
    auto lastSample = start;
    auto sample = [&] {
        lastSample = Clock::now();
        logged = sizeOf(rawLogs[0]);
        largestBacklog = std::max<std::uintmax_t>(largestBacklog, sent > logged ? sent - logged : 0);
    };
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (max && elapsed < seconds)
            while (stream.bytes.size() - sent < 65536) stream.addUnit();
        if (sent == stream.bytes.size()) break;
        const std::size_t due = max ? stream.bytes.size()
                                    : std::min(stream.bytes.size(), static_cast<std::size_t>(rate * elapsed));
        const ssize_t n = due > sent ? ::write(peer, stream.bytes.data() + sent, std::min<std::size_t>(due - sent, 4096)) : 0;
        if (n > 0) sent += static_cast<std::size_t>(n);
        if (Clock::now() - lastSample >= std::chrono::milliseconds(100)) sample();
        if (n <= 0 || sent < due) {
            pollfd p{peer, POLLOUT, 0};
            poll(&p, 1, 1);
            if (!max) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    auto lastProgress = Clock::now();
    for (sample(); logged < sent && Clock::now() - lastProgress < std::chrono::seconds(10); sample()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (sizeOf(rawLogs[0]) != logged) lastProgress = Clock::now();
    }
    const double cpu = wineCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(lastSample - start).count();
    const double achieved = static_cast<double>(std::min<std::uintmax_t>(logged, sent)) / wall;
    const int exitStatus = program.close();
    const ArchiveCheck c = checkArchive(work, stream, sent);

    std::printf("stream:   %zu bytes, %zu beacons, %s\n", sent, stream.beaconsIn(sent),
                max ? "as fast as taken" : ("paced at " + std::to_string(static_cast<long>(rate)) + " bytes/s").c_str());
    std::printf("received: %ju bytes in %.2f s: %.0f bytes/s (largest backlog %ju bytes)\n", logged, wall, achieved,
                largestBacklog);
    std::printf("archive:  %zu bytes lost; %zu beacons in the BeaconTextLog, %zu RawFrameFiles match\n", c.lostBytes,
                c.matchingLines, c.matchingRawFiles);
    std::printf("wine:     exit %d, CPU %.1f s (%.0f %% of one core, program and Wine server)\n", exitStatus, cpu,
                100 * cpu / wall);
    std::vector<std::string> problems = c.problems;
    if (exitStatus != 0) problems.push_back("exit status " + std::to_string(exitStatus) + " after WM_CLOSE");
    if (!max && achieved < rate * 0.99)
        problems.push_back("rate " + std::to_string(static_cast<long>(achieved)) + " bytes/s below the pace");
    for (const auto& p : problems) std::printf("FAILED: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}
