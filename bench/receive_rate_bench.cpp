// Receive rate of the running program: a pseudo-terminal stands in for the TNC,
// the real decoder runs offscreen in a fresh working directory, and a stream of
// beacons and noise goes in at a set pace (or as fast as the program takes it).
// Afterwards its archive must hold every byte and every beacon.
//
// The pty queues tens of kilobytes, so what the writer got rid of says little;
// progress is measured on the RawByteLog, which the program writes byte by byte.

#include "SimBeacons.h"
#include "SimPort.h"
#include "ToolTestSupport.h"
#include "telemetry/Archive.h"

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

// The stream: noise, a beacon, noise, a beacon... The noise never holds a byte
// of the trailer marker, so no marker can form across noise and the program
// must find exactly the beacons sent.
class Stream {
public:
    explicit Stream(unsigned meanNoise) : meanNoise_(meanNoise), beacons_(sim::BeaconOptions{}) {
        for (int b = 0; b < 256; ++b)
            if (TrailerMarker.find(static_cast<char>(b)) == std::string_view::npos)
                alphabet_.push_back(static_cast<char>(b));
    }

    void addUnit() {
        std::uniform_int_distribution<unsigned> length(meanNoise_ / 2, meanNoise_ + meanNoise_ / 2);
        std::uniform_int_distribution<std::size_t> pick(0, alphabet_.size() - 1);
        for (unsigned n = length(rng_); n > 0; --n) bytes.push_back(alphabet_[pick(rng_)]);
        // One simulated second per beacon: every FlightTime differs.
        records.push_back(beacons_.record(static_cast<double>(records.size())));
        frames.push_back(buildBeaconFrame(kTestFrameHeader, records.back()));
        bytes += frames.back();
        frameEnds.push_back(bytes.size());
    }

    // Beacons complete within the first n bytes.
    std::size_t beaconsIn(std::size_t n) const {
        return static_cast<std::size_t>(std::upper_bound(frameEnds.begin(), frameEnds.end(), n) - frameEnds.begin());
    }

    std::string bytes;
    std::vector<BeaconRecord> records;
    std::vector<std::string> frames;
    std::vector<std::size_t> frameEnds;

private:
    unsigned meanNoise_;
    sim::BeaconSource beacons_;
    std::string alphabet_;
    std::mt19937 rng_{20240305};
};

std::uintmax_t sizeOf(const fs::path& p) {
    std::error_code ec;
    const auto n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

// Peak resident size (kB) and CPU time (s) of a running process, from /proc.
struct ProcessFigures {
    long peakRssKb = -1;
    double cpuSeconds = -1;
};

ProcessFigures figuresOf(pid_t pid) {
    ProcessFigures f;
    const std::string dir = "/proc/" + std::to_string(pid) + "/";
    const std::string status = test::readFile(dir + "status");
    if (const auto at = status.find("VmHWM:"); at != std::string::npos) f.peakRssKb = std::atol(status.c_str() + at + 6);
    // utime and stime are fields 14 and 15; the command name before them may hold blanks.
    const std::string stat = test::readFile(dir + "stat");
    if (const auto close = stat.rfind(')'); close != std::string::npos) {
        const char* p = stat.c_str() + close + 1;
        unsigned long long ticks[2] = {};
        for (int field = 3; field <= 15 && *p; ++field) {
            while (*p == ' ') ++p;
            if (field >= 14) ticks[field - 14] = std::strtoull(p, nullptr, 10);
            while (*p && *p != ' ') ++p;
        }
        f.cpuSeconds = static_cast<double>(ticks[0] + ticks[1]) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return f;
}

// What the archive shows about the stream.
struct ArchiveCheck {
    std::size_t lostBytes = 0;
    std::size_t firstDifference = std::string::npos;  // where the RawByteLog departs from the stream
    std::size_t lines = 0, matchingLines = 0;
    bool headerOk = false;
    std::size_t rawFiles = 0, matchingRawFiles = 0;
    std::vector<std::string> problems;
};

ArchiveCheck checkArchive(const fs::path& work, const Stream& s, std::size_t sent) {
    ArchiveCheck c;
    const fs::path telemetry = work / "Telemetry";

    const auto rawLogs = test::filesIn(telemetry / "raw_log");
    const std::string logged = rawLogs.size() == 1 ? test::readFile(rawLogs[0]) : std::string();
    if (rawLogs.size() != 1) c.problems.push_back(std::to_string(rawLogs.size()) + " RawByteLogs");
    c.lostBytes = logged.size() < sent ? sent - logged.size() : 0;
    const std::size_t common = std::min(logged.size(), sent);
    const auto diff = std::mismatch(logged.begin(), logged.begin() + static_cast<long>(common), s.bytes.begin());
    if (diff.first != logged.begin() + static_cast<long>(common) || logged.size() != sent)
        c.firstDifference = static_cast<std::size_t>(diff.first - logged.begin());

    const std::size_t beacons = s.beaconsIn(sent);

    const auto textLogs = test::filesIn(telemetry / "Decoded");
    if (textLogs.size() == 1) {
        const std::string text = test::readFile(textLogs[0]);
        const std::string& header = beaconTextLogHeader();
        c.headerOk = text.compare(0, header.size(), header) == 0;
        std::size_t at = c.headerOk ? header.size() : text.size();
        for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2, ++c.lines) {
            // The line without its date and time of writing.
            const std::string line = text.substr(at, end - at);
            const auto dateTab = line.rfind('\t', line.rfind('\t') - 1);
            if (c.lines < beacons && line.compare(0, dateTab, beaconTextLogFields(s.records[c.lines])) == 0)
                ++c.matchingLines;
        }
    } else {
        c.problems.push_back(std::to_string(textLogs.size()) + " BeaconTextLogs");
    }

    std::vector<std::string> stored;
    for (const auto& f : test::filesIn(telemetry / "raw_data")) stored.push_back(test::readFile(f));
    c.rawFiles = stored.size();
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < beacons; ++i) expected.push_back(s.frames[i] + '\0');
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> matching;
    std::set_intersection(stored.begin(), stored.end(), expected.begin(), expected.end(), std::back_inserter(matching));
    c.matchingRawFiles = matching.size();

    if (c.lostBytes) c.problems.push_back(std::to_string(c.lostBytes) + " bytes lost");
    if (c.firstDifference != std::string::npos && !c.lostBytes)
        c.problems.push_back("RawByteLog differs from the stream at byte " + std::to_string(c.firstDifference));
    if (!textLogs.empty() && !c.headerOk) c.problems.push_back("BeaconTextLog header differs");
    if (c.matchingLines != beacons || c.lines != beacons)
        c.problems.push_back(std::to_string(c.matchingLines) + " of " + std::to_string(beacons) +
                             " beacons in the BeaconTextLog (" + std::to_string(c.lines) + " lines)");
    if (c.matchingRawFiles != beacons || c.rawFiles != beacons)
        c.problems.push_back(std::to_string(c.matchingRawFiles) + " of " + std::to_string(beacons) +
                             " beacons in RawFrameFiles (" + std::to_string(c.rawFiles) + " files)");
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parse(argc, argv);
    if (!parsed) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const Options& o = *parsed;

    test::Scratch scratch("kestrel-bench");
    const fs::path root = scratch.dir;
    const fs::path work = root / "station";
    fs::create_directories(work);
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 256000);

    test::Child decoder({o.decoder}, work, root / "decoder.out", true);
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "bench_receive_rate: %s\n%s", why.c_str(), test::readFile(root / "decoder.out").c_str());
        return 1;
    };
    if (!test::waitFor([&] { return pty.peerConfigured() || !decoder.running(); }, std::chrono::seconds(30)) ||
        !decoder.running())
        return fail("the decoder did not open " + pty.portName());
    const auto rawLogs = test::filesIn(work / "Telemetry" / "raw_log");
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
        scratch.dir.clear();  // nothing left to remove
    }
    for (const auto& p : problems) std::printf("FAILED: %s\n", p.c_str());
    if (!problems.empty()) std::fputs(test::readFile(root / "decoder.out").c_str(), stdout);
    return problems.empty() ? 0 : 1;
}
