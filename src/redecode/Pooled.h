#pragma once
// Frames a telemetry database pooled from every station (SatNOGS DB), read back
// and decoded: the telemetry API's JSON pages and the web export's
// "timestamp|frame" lines. Each frame goes through the program's own frame
// finder and is stamped with the database's time and its observer; the same
// beacon heard by several stations becomes one row with every observer and
// the earliest time. Qt-free, like the core.

#include "telemetry/BeaconFrame.h"
#include "telemetry/BeaconTextLogReader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::redecode {

// How a file of pooled frames is written, from its first bytes; nothing when
// it is neither.
enum class PooledFormat { Json, Export };
std::optional<PooledFormat> pooledFormatOf(std::string_view start);

// "2026-12-09T09:09:45.089Z", "2026-12-09T09:09:45.089123+00:00" (the API) or
// "2026-12-09 09:09:45" (the export, UTC): milliseconds since 1970, UTC.
std::optional<std::int64_t> parsePooledTime(std::string_view text);

// One beacon as heard, before merging.
struct Reception {
    std::int64_t utcMs = 0;
    std::string observer;  // empty when not known (the export names none)
    RawFrame raw{};        // the 131 frame bytes and the byte after them (0 at the frame's end)
};

// The same beacon heard by several stations: every observer, the earliest time.
struct MergedBeacon {
    std::int64_t utcMs = 0;
    std::vector<std::string> observers;  // in the order first heard, each once
    std::uint32_t receptions = 0;
    RawFrame raw{};
};

// Receptions of the same beacon bytes whose times lie within `windowMs` of
// one another are merged. The database gives its frames in time order (newest
// first), so a beacon is complete once the input's time has moved more than the
// window past it; it then goes to `emit`, in the order first heard. Memory
// stays bounded whatever the input: at most kMaxHeld beacons wait.
class BeaconMerger {
public:
    static constexpr std::size_t kMaxHeld = 20000;

    BeaconMerger(std::int64_t windowMs, std::function<void(MergedBeacon&&)> emit);
    ~BeaconMerger();
    void add(Reception&& reception);
    // Emits every beacon still held.
    void finish();
    std::size_t held() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct PooledSummary {
    std::uint64_t bytes = 0;       // read from files and pages
    std::uint64_t frames = 0;      // frames the database gave, duplicates not counted
    std::uint64_t duplicates = 0;  // entries given again exactly (observer, time, frame): dropped
    std::uint64_t beacons = 0;     // beacons decoded from them
    std::uint64_t rows = 0;        // beacons after merging
    std::uint64_t notBeacons = 0;  // frames without a beacon of this satellite: skipped
    std::uint64_t unreadable = 0;  // entries without a frame or a time, or whose frame is no hex: skipped
    // Why the tree could not be written whole (empty when it was); decoding
    // goes on for the CSV.
    std::string treeFailure;
};

struct PooledSinks {
    // Below this folder a Telemetry/ tree is written; empty for none.
    std::string outDir;
    // Called for each merged beacon; may be empty.
    std::function<void(const BeaconLogEntry&)> beacon;
    std::int64_t mergeWindowMs = 5000;
};

// The frames of every file and page given, as one stream: merging reaches
// across files, so give a fetch's pages in the order fetched. An entry exactly
// like one of the last kRecentEntries (the same observer, time and frame) is a
// duplicate and dropped: SatNOGS DB pages newest first by page number, so the
// frames that arrive during a fetch push earlier ones onto the next page again.
// A page counts only once it is whole: the frames of a page that breaks off
// are never decoded.
class PooledDecoding {
public:
    static constexpr std::size_t kRecentEntries = 10000;

    explicit PooledDecoding(PooledSinks sinks);
    ~PooledDecoding();
    PooledDecoding(const PooledDecoding&) = delete;
    PooledDecoding& operator=(const PooledDecoding&) = delete;

    // A saved page (or several, one after another) of the API's JSON, or an
    // export; `progress` gets the bytes read so far. Throws std::runtime_error
    // when the file cannot be read or its JSON breaks off; the frames of the
    // whole pages before that point count.
    void readFile(const std::string& path, PooledFormat format, const std::function<void(std::uint64_t)>& progress);
    // The same from memory: a fetched page, or a file's contents; counts only
    // when all of it is whole.
    void readJson(std::string_view text);
    void readExport(std::string_view text);
    // What the database said instead of frames ({"detail": "..."}), if it did.
    const std::string& detail() const;
    // Emits the beacons still held back for merging; the tree is closed.
    void finish();
    const PooledSummary& summary() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel::redecode
