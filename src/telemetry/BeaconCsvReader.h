#pragma once
// Reading back the CSV that kestrel-redecode --csv writes: its header row
// names each column (with its unit), so the columns are found by name and a
// spreadsheet that moved or dropped some still reads. Fields that a row does
// not have keep their defaults.

#include "telemetry/BeaconTextLogReader.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrel {

class BeaconCsvReader {
public:
    // The header row; false when it is not one of ours (no receive time
    // column).
    bool readHeader(std::string_view line);
    // One row (its line end taken off); nothing when its time does not parse.
    std::optional<BeaconLogEntry> readRow(std::string_view line) const;

    // True when text starts the way such a CSV starts.
    static bool looksLikeBeaconCsv(std::string_view start);

private:
    std::vector<int> fields_;  // the field of each column, -1 for one we do not read
};

}  // namespace kestrel
