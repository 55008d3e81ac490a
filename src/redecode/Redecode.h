#pragma once
// The parts of kestrel-redecode: a RawByteLog's bytes through the program's own
// frame finder, decoder and archive, and the CSV rows of decoded beacons.
// Qt-free, like the core.

#include "telemetry/BeaconTextLogReader.h"
#include "telemetry/Clock.h"
#include "telemetry/TimeIndex.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::redecode {

// The UTC start of a run from its RawByteLog's name
// (log_raw_YYYY_MM_DD_HHMMSS_UTC.KR7, or with the _2, _3 ... of a name taken
// twice, or a piece's _part2, _part3 ...); nothing for any other name.
std::optional<SystemTime> rawByteLogStamp(std::string_view fileName);

// A run's RawByteLog in the order it was written: the log itself, then the
// pieces the program went on in when it could not grow (its name with
// _part2, _part3, ... before the extension) as far as they are there.
std::vector<std::string> runPieces(const std::string& firstPiece);
// True for a piece after a run's first (_part<N> before the extension).
bool isLaterPiece(std::string_view fileName);
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
    // Or the index read as the log is: the next entry, false after the last.
    // Replaces `times` when set.
    std::function<bool(TimeIndexEntry&)> nextTime;
    // Called for each beacon, with its receive time; may be empty.
    std::function<void(const BeaconLogEntry&)> beacon;
    // Bytes handled so far, after each block read.
    std::function<void(std::uint64_t done)> progress;
};

// A RawByteLog's time index (timeIndexPath), read a block at a time beside
// the log, so that memory does not follow its size. An index that is not a
// regular file, or larger than any index of the log could be, is refused.
// A run in pieces has an index beside each: they are read one after the
// other, each piece's offsets counted from the start of the run.
class TimeIndexFile {
public:
    // The most bytes an index needs per byte of its log: every entry (or
    // torn try at one) has an offset of its own, and takes at most a segment
    // mark and two 10-byte numbers.
    static constexpr std::uint64_t kMostBytesPerLogByte = 22;

    struct LogPiece {
        std::string path;
        std::uint64_t size;
    };
    TimeIndexFile(const std::string& logPath, std::uint64_t logSize) : TimeIndexFile({{logPath, logSize}}) {}
    explicit TimeIndexFile(std::vector<LogPiece> pieces);
    ~TimeIndexFile();
    TimeIndexFile(const TimeIndexFile&) = delete;
    TimeIndexFile& operator=(const TimeIndexFile&) = delete;

    // The first piece's index.
    const std::string& path() const { return path_; }
    // Whether there is an index beside the (first) log at all.
    bool present() const { return present_; }
    // Why a present index is not read, as a sentence; empty when it is read.
    // A later piece's is said when the reading gets there.
    const std::string& refusal() const { return refusal_; }
    // The header was found (false also for a refused or missing index).
    bool recognised();
    // The next entry in order; false after the last (or a read error, kept in
    // readError()).
    bool next(TimeIndexEntry& entry);
    // Reads what is left, so that dropped() counts the whole file.
    void readToEnd();
    std::size_t dropped() const { return dropped_ + reader_.dropped(); }
    const std::string& readError() const { return readError_; }

private:
    // Opens the index of pieces_[piece_], or says why not.
    void open();
    bool fill();

    std::vector<LogPiece> pieces_;
    std::size_t piece_ = 0;
    std::uint64_t base_ = 0;  // the run's offset of the current piece's first byte
    std::string path_;
    bool present_ = false;
    std::string refusal_;
    std::FILE* file_ = nullptr;
    TimeIndexReader reader_;
    std::size_t dropped_ = 0;  // in the pieces read before
    bool firstRecognised_ = false;
    std::deque<TimeIndexEntry> ready_;
    bool ended_ = false;
    std::uint64_t read_ = 0;
    std::string readError_;
};

// Decodes one RawByteLog again; beacons are stamped from sinks.times, else
// `stamp`, which also names the tree's BeaconTextLog. A KISS stream is
// de-framed first and the contents of port 0's data frames go to the frame
// finder, as they do live. Throws std::runtime_error when the file cannot be
// read; a tree that cannot be written is reported in Summary::treeFailure.
Summary redecodeRawByteLog(const std::string& path, const SystemTime& stamp, const Sinks& sinks);
// The same for a run in pieces (runPieces), read as one stream: a beacon
// across two pieces is found as it was live.
Summary redecodeRawByteLog(const std::vector<std::string>& pieces, const SystemTime& stamp, const Sinks& sinks);

}  // namespace kestrel::redecode
