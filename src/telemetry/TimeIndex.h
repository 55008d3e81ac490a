#pragma once
// The time index beside a RawByteLog: (byte offset, UTC time in ms) pairs that
// say when the bytes from each offset on were read, so that a recording decoded
// again gives every beacon its own receive time. The RawByteLog itself carries
// no time; the index is a small append-only file of its own.
//
// File layout: the text header kTimeIndexHeader, then segments. A segment is
// the two bytes 0x80 0x00, the first entry as two unsigned LEB128 numbers
// (offset, ms since 1970), then each later entry relative to the one before:
// one number P = zigzag(offset step - previous offset step) << 5 | c, where
// c = time step - 100 ms when that is 0 to 30; c = 31 says a second number
// follows with the zigzag of the time step less 100 ms. A steady stream thus
// costs one or two bytes an entry. Minimal LEB128 never holds 0x80 0x00, so
// after a write that failed part-way the writer starts a new segment and the
// reader finds it again; a torn entry at a segment's end is dropped.

#include "telemetry/Clock.h"
#include "telemetry/FileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

inline constexpr std::string_view kTimeIndexHeader = "KR7 time index 1\n";
// Appended to the RawByteLog's name: nothing that collects *.KR7 takes it.
inline constexpr std::string_view kTimeIndexExtension = ".tidx";
// Entries come no closer than this while bytes keep coming.
inline constexpr std::int64_t kTimeIndexSpacingMs = 100;

std::string timeIndexPath(std::string_view rawByteLogPath);

// Milliseconds since 1970-01-01 00:00 UTC, and back (day of week included).
std::int64_t utcMilliseconds(const SystemTime& t);
SystemTime utcFromMilliseconds(std::int64_t ms);

struct TimeIndexEntry {
    std::uint64_t offset;  // of the first byte read at utcMs
    std::int64_t utcMs;
    friend bool operator==(const TimeIndexEntry&, const TimeIndexEntry&) = default;
};

// Encoding, pure: what the writer appends for each entry.
class TimeIndexEncoder {
public:
    // The bytes of `entry`; a new segment when asked or when the entry does not
    // follow the last one (first entry, clock stepped back).
    std::string encode(const TimeIndexEntry& entry, bool newSegment);
    // The entry encoded last reached the file whole; later ones build on it.
    void stored(const TimeIndexEntry& entry);
    void reset() { last_.reset(); }

private:
    std::optional<TimeIndexEntry> last_;
    std::uint64_t lastStep_ = 0;  // offset step to last_ within its segment
    bool absolute_ = true;        // the entry encoded last starts a segment
};

struct TimeIndexContents {
    bool recognised = false;              // the header was there
    std::vector<TimeIndexEntry> entries;  // offsets never decreasing
    std::size_t dropped = 0;              // torn or out-of-order pairs left out
};

bool looksLikeTimeIndex(std::string_view start);
TimeIndexContents parseTimeIndex(std::string_view bytes);

// The same reading a piece at a time, so that an index of any size is read
// in memory of its own (kestrel-redecode walks it beside the log): feed the
// file's bytes in any pieces, then finish(); entries come out in order, as
// parseTimeIndex gives them.
class TimeIndexReader {
public:
    // Entries completed by `bytes` go to sink(const TimeIndexEntry&).
    template <class Sink>
    void feed(std::string_view bytes, Sink&& sink) {
        for (char c : bytes)
            if (push(static_cast<std::uint8_t>(c)))
                sink(entry_);
    }
    // The end of the file: an entry cut off there is counted as dropped.
    void finish();
    bool recognised() const { return phase_ != Phase::Header && phase_ != Phase::Foreign; }
    std::size_t dropped() const { return dropped_; }

private:
    enum class Phase { Header, Foreign, BeforeFirstMark, Segment, SkipSegment };
    bool push(std::uint8_t byte);
    bool take(std::uint8_t byte);
    bool numberDone();
    void endSegment();

    Phase phase_ = Phase::Header;
    std::size_t headerSeen_ = 0;
    bool pendingMark_ = false;  // the byte before was 0x80: a segment mark if 0x00 follows
    bool strayBytes_ = false;   // bytes between the header and the first mark
    std::size_t dropped_ = 0;
    // The number being read and which of an entry's numbers it is.
    std::uint64_t value_ = 0;
    unsigned shift_ = 0;
    bool inNumber_ = false;
    enum class Want { Offset, Time, Step, LateTime } want_ = Want::Offset;
    std::uint64_t first_ = 0, packed_ = 0, step_ = 0;
    TimeIndexEntry entry_{};
    std::optional<std::uint64_t> lastOffset_;  // of the last entry handed out
};

// The archive's side: told the time of each read chunk, it writes an entry for
// the first byte stored after it when kTimeIndexSpacingMs have passed since the
// last entry (or the last try at one). Failures never leave it: they are counted, the first of a series
// is kept for one report, and the next entry tries again.
class TimeIndexWriter {
public:
    explicit TimeIndexWriter(IFileSystem& fs) : fs_(fs) {}
    ~TimeIndexWriter() { close(); }
    TimeIndexWriter(const TimeIndexWriter&) = delete;
    TimeIndexWriter& operator=(const TimeIndexWriter&) = delete;

    // A new RawByteLog: a new index beside it, made with the first entry (a
    // stale one of that name goes now).
    void open(const std::string& rawByteLogPath) noexcept;
    // The record goes on in a new RawByteLog: a new index beside it whose
    // first entry gives the bytes still to come the latest read time.
    void continueIn(const std::string& rawByteLogPath) noexcept;
    void close() noexcept;

    // A read chunk at `tickMs` (a monotonic millisecond count); `utcMs()` is
    // read only when an entry is due, so chunks in between cost no calendar
    // clock, and a stepped wall clock never bunches or stalls entries.
    template <class UtcMs>
    void readTime(std::uint32_t tickMs, UtcMs&& utcMs) {
        if (lastTick_ && tickMs - *lastTick_ < kTimeIndexSpacingMs)
            return;
        pendingTick_ = tickMs;
        pendingMs_ = utcMs();
        pending_ = true;
    }
    // Called with each byte's offset in the RawByteLog once it is stored there:
    // the index describes the file as it is on disk.
    void byteStored(std::uint64_t offset) {
        if (pending_)
            entryDue(offset);
    }
    // The time the index gives the bytes of the latest chunk: its own read
    // time, or that of the chunk up to kTimeIndexSpacingMs before it whose
    // entry they fall under.
    std::int64_t readMs() const { return pendingMs_; }

    const std::string& path() const { return path_; }
    std::uint64_t failures() const { return failures_; }
    // The text of a failure not yet reported, once.
    std::optional<std::string> takeReport();

private:
    void entryDue(std::uint64_t offset);
    bool ensureFile();
    void failed(const std::string& why);

    IFileSystem& fs_;
    TimeIndexEncoder encoder_;
    std::string path_;
    FileHandle file_ = kNoFile;
    bool pending_ = false;
    std::int64_t pendingMs_ = 0;
    std::uint32_t pendingTick_ = 0;
    std::optional<std::uint32_t> lastTick_;
    bool newSegment_ = true;
    bool failing_ = false;
    std::uint64_t failures_ = 0;
    std::optional<std::string> report_;
};

}  // namespace kestrel
