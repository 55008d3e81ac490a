#pragma once
// The parts of kestrel-redecode: a RawByteLog's bytes through the program's own
// frame finder, decoder and archive, and the CSV rows of decoded beacons.
// Qt-free, like the core.

#include "telemetry/BeaconTextLogReader.h"
#include "telemetry/Clock.h"
#include "telemetry/TimeIndex.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::redecode {

// The UTC start of a run from its RawByteLog's name
// (log_raw_YYYY_MM_DD_HHMMSS_UTC.KR7, or with the _2, _3 ... of a name taken
// twice); nothing for any other name.
std::optional<SystemTime> rawByteLogStamp(std::string_view fileName);
// True for the names the archive gives BeaconTextLogs (KR7_beacon_..._UTC.txt).
bool hasBeaconTextLogName(std::string_view fileName);

// The CSV's first line and one beacon's row, each ending in a line feed.
std::string csvHeader();
std::string csvRow(const BeaconLogEntry& entry);

struct Summary {
    std::uint64_t bytes = 0;
    // The log held a KISS stream (a software TNC's) and was de-framed first.
    bool kiss = false;
    std::uint64_t kissFrames = 0;   // data frames of port 0 handed to the frame finder
    std::uint64_t kissDropped = 0;  // other ports' and commands' frames, broken frames
    std::uint64_t beacons = 0;
    std::uint64_t treeBeacons = 0;  // of them, those with a line in the tree's BeaconTextLog
    // Trailer markers that did not end a beacon: damaged frames, lone markers,
    // tails of beacons whose start was lost.
    std::uint64_t rejected = 0;
    // Why the tree could not be written whole (empty when it was): it ends at
    // the first failure, its BeaconTextLog cut back to its last whole line;
    // decoding goes on for the other sinks.
    std::string treeFailure;
};

// Whether a RawByteLog holds a KISS stream: Auto looks at its start.
enum class Framing { Auto, Plain, Kiss };

struct Sinks {
    Framing framing = Framing::Auto;
    // Below this folder a Telemetry/ tree is written; empty for none.
    std::string outDir;
    // The log's time index: each beacon takes the time of the latest entry at
    // or before the byte that completed it. Empty, or for bytes before its
    // first entry: the stamp given to redecodeRawByteLog.
    std::vector<TimeIndexEntry> times;
    // Called for each beacon, with its receive time; may be empty.
    std::function<void(const BeaconLogEntry&)> beacon;
    // Bytes handled so far, after each block read.
    std::function<void(std::uint64_t done)> progress;
};

// Decodes one RawByteLog again; beacons are stamped from sinks.times, else
// `stamp`, which also names the tree's BeaconTextLog. A KISS stream is
// de-framed first and the contents of port 0's data frames go to the frame
// finder, as they do live. Throws std::runtime_error when the file cannot be
// read; a tree that cannot be written is reported in Summary::treeFailure.
Summary redecodeRawByteLog(const std::string& path, const SystemTime& stamp, const Sinks& sinks);

}  // namespace kestrel::redecode
