#pragma once
// A stream of beacons among noise for a running decoder, and what its archive
// must show afterwards: every byte in the RawByteLog, every beacon in the
// BeaconTextLog and as a RawFrameFile. Shared by the receive-rate benches and
// the Windows window tests (needs kestrel_sim).

#include "SimBeacons.h"
#include "support/Files.h"
#include "telemetry/Archive.h"
#include "telemetry/TimeIndex.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrel::test {

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
        for (unsigned n = length(rng_); n > 0; --n)
            bytes.push_back(alphabet_[pick(rng_)]);
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

// The middle of the figures of several runs (the mean of the two middle ones
// for an even count); 0 for none.
inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline std::uintmax_t sizeOf(const fs::path& p) {
    std::error_code ec;
    const auto n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

// Peak resident size (kB) and CPU time (s) of a running process, from /proc.
struct ProcessFigures {
    long peakRssKb = -1;
    double cpuSeconds = -1;
};

inline ProcessFigures figuresOf(pid_t pid) {
    ProcessFigures f;
    const std::string dir = "/proc/" + std::to_string(pid) + "/";
    const std::string status = test::readFile(dir + "status");
    if (const auto at = status.find("VmHWM:"); at != std::string::npos)
        f.peakRssKb = std::atol(status.c_str() + at + 6);
    // utime and stime are fields 14 and 15; the command name before them may hold blanks.
    const std::string stat = test::readFile(dir + "stat");
    if (const auto close = stat.rfind(')'); close != std::string::npos) {
        const char* p = stat.c_str() + close + 1;
        unsigned long long ticks[2] = {};
        for (int field = 3; field <= 15 && *p; ++field) {
            while (*p == ' ')
                ++p;
            if (field >= 14)
                ticks[field - 14] = std::strtoull(p, nullptr, 10);
            while (*p && *p != ' ')
                ++p;
        }
        f.cpuSeconds = static_cast<double>(ticks[0] + ticks[1]) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return f;
}

// RawFrameFiles of earlier runs a bench puts into raw_data beforehand (as a
// station's folder holds them after months); the check leaves them out.
inline constexpr std::string_view kEarlierRawFramePrefix = "KR7_raw_2000_";

inline void addEarlierRawFrameFiles(const fs::path& work, std::size_t count) {
    const fs::path folder = work / "Telemetry" / "raw_data";
    fs::create_directories(folder);
    for (std::size_t i = 0; i < count; ++i)
        std::ofstream(folder / (std::string(kEarlierRawFramePrefix) + std::to_string(100000 + i) + "_UTC.KR7"));
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

inline ArchiveCheck checkArchive(const fs::path& work, const Stream& s, std::size_t sent) {
    ArchiveCheck c;
    const fs::path telemetry = work / "Telemetry";

    const auto rawLogs = test::rawByteLogsIn(telemetry);
    const std::string logged = rawLogs.size() == 1 ? test::readFile(rawLogs[0]) : std::string();
    if (rawLogs.size() != 1)
        c.problems.push_back(std::to_string(rawLogs.size()) + " RawByteLogs");
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
    for (const auto& f : test::filesIn(telemetry / "raw_data"))
        if (!f.filename().string().starts_with(kEarlierRawFramePrefix))
            stored.push_back(test::readFile(f));
    c.rawFiles = stored.size();
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < beacons; ++i)
        expected.push_back(s.frames[i] + '\0');
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> matching;
    std::set_intersection(stored.begin(), stored.end(), expected.begin(), expected.end(), std::back_inserter(matching));
    c.matchingRawFiles = matching.size();

    if (c.lostBytes)
        c.problems.push_back(std::to_string(c.lostBytes) + " bytes lost");
    if (c.firstDifference != std::string::npos && !c.lostBytes)
        c.problems.push_back("RawByteLog differs from the stream at byte " + std::to_string(c.firstDifference));
    if (!textLogs.empty() && !c.headerOk)
        c.problems.push_back("BeaconTextLog header differs");
    if (c.matchingLines != beacons || c.lines != beacons)
        c.problems.push_back(std::to_string(c.matchingLines) + " of " + std::to_string(beacons) +
                             " beacons in the BeaconTextLog (" + std::to_string(c.lines) + " lines)");
    if (c.matchingRawFiles != beacons || c.rawFiles != beacons)
        c.problems.push_back(std::to_string(c.matchingRawFiles) + " of " + std::to_string(beacons) +
                             " beacons in RawFrameFiles (" + std::to_string(c.rawFiles) + " files)");
    return c;
}

}  // namespace kestrel::test
