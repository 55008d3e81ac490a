#pragma once
// What kestrel-redecode makes of each input: which kind of file it is (from
// its name, else its first bytes), and where a recording's beacons take their
// receive times from (its time index, its name, --start or the file's time).

#include "redecode/Redecode.h"
#include "telemetry/Clock.h"
#include "telemetry/TimeIndex.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::redecode {

// "YYYY-MM-DD HH:MM:SS" (or with a T between), UTC, as --start takes it;
// nothing for any other text.
std::optional<SystemTime> parseUtcTime(const std::string& text);

enum class InputKind { RawBytes, BeaconTextLog, TimeIndex, PooledJson, PooledExport };

// A file with a RawByteLog's or BeaconTextLog's name is one; any other is
// told by how it starts (a renamed BeaconTextLog by its header, an index by
// its own, SatNOGS DB's answers as JSON or an export line); anything else is
// taken as a recording of a TNC's bytes.
InputKind inputKindOf(const std::filesystem::path& file);

// Where a recording's beacons get their times, and the words for the summary.
// The index is read as the log is decoded, so memory does not follow its size.
struct TimeSource {
    SystemTime start;                      // names the tree's BeaconTextLog; stamps beacons without an index
    std::unique_ptr<TimeIndexFile> index;  // null when the beacons do without
    std::optional<TimeIndexEntry> first;   // the index's first entry, taken to look
    std::string said;
    // The next index entry, the first one taken to look included; false after
    // the last.
    bool next(TimeIndexEntry& entry);
    // The summary's words once the log is decoded (torn entries are counted
    // only by reading the index to its end).
    std::string finalSaid();
};

// In this order: the index beside the log (beside each of a run's pieces),
// the stamp in its name, `start`, the file's modification time. `refused`
// hears why an index that is there is not read. Throws when the file's time
// cannot be read.
TimeSource timeSourceOf(const std::vector<TimeIndexFile::LogPiece>& pieces, const std::optional<SystemTime>& start,
                        const std::function<void(const std::string&)>& refused);

}  // namespace kestrel::redecode
