#pragma once
// Reading BeaconTextLogs back: one entry per data line, with the values the
// line holds. The CSV export and the trend window use it; the same entry can
// be made from a record, so both sources look alike to them.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The values of one BeaconTextLog line (fields 1 to 30), typed as in the record,
// and what only some sources know: the boot fields (a record has them, a
// BeaconTextLog line not), and for beacons pooled by a telemetry database the
// stations that heard them (fields 31 and 32 of a re-decoded tree's lines).
struct BeaconLogEntry {
    SystemTime utc;  // fields 29 and 30; dayOfWeek and millisecond stay 0
    std::uint32_t flightTime = 0;
    std::uint16_t vbat = 0, iin = 0, isys = 0;  // mV, mA, mA
    float bx = 0, by = 0, bz = 0;               // uT
    double latitude = 0, longitude = 0, altitude = 0, velocity = 0;
    std::uint8_t gpsOn = 0;
    double tcpu = 0;  // degrees Celsius
    std::int16_t tpsu = 0, toutMin = 0, toutMax = 0;
    std::uint16_t transponderTime = 0;
    std::uint8_t transponderOn = 0;
    std::array<std::uint16_t, kIsunCount> isun{};
    std::array<std::uint16_t, kFotoCount> foto{};
    std::array<std::uint8_t, kStatusByteCount> statusBytes{};
    std::optional<std::int32_t> boots;
    std::optional<std::uint8_t> lastBootCause;
    std::string observers;         // ';'-separated; empty when not known
    std::uint32_t receptions = 0;  // frames that brought this beacon; 0 when not counted

    friend bool operator==(const BeaconLogEntry&, const BeaconLogEntry&) = default;
};

// The entry of a record received at `utc`, its numbers unrounded.
BeaconLogEntry beaconLogEntry(const BeaconRecord& record, const SystemTime& utc);

// One data line without its line end; nothing when it is not one.
std::optional<BeaconLogEntry> parseBeaconTextLogLine(std::string_view line);

// What a line of a BeaconTextLog is (its line end, CR LF or LF, taken off):
// a beacon's (entry is set), one to pass over (a header line, an empty
// line) or one that does not parse.
enum class BeaconTextLogLine { Entry, Passed, Skipped };
BeaconTextLogLine readBeaconTextLogLine(std::string_view line, BeaconLogEntry& entry);

struct BeaconTextLogContents {
    std::vector<BeaconLogEntry> entries;
    // Lines that are neither header nor empty nor a data line.
    std::size_t skippedLines = 0;
};

// A whole log: the header lines and empty lines are passed over, any other
// line that does not parse is counted in skippedLines.
BeaconTextLogContents parseBeaconTextLog(std::string_view text);

// True when the text starts the way the archive starts every BeaconTextLog.
bool looksLikeBeaconTextLog(std::string_view start);

// Reads the file at path into text; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& text);

}  // namespace kestrel
