#pragma once
// One received frame as a telemetry server takes it: the form of the Simple
// Downlink Share Convention, one HTTP POST per frame,
// application/x-www-form-urlencoded.

#include "telemetry/Clock.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

struct SidsFrame {
    long noradId = 0;
    std::string source;      // the station's callsign
    SystemTime utc;          // when the frame was received
    std::string_view frame;  // the frame's bytes
    double latitude = 0;     // north positive
    double longitude = 0;    // east positive
};

// "2026-12-09T08:57:00.042Z": always three decimals, as some servers refuse
// a time without them.
std::string SidsTimestamp(const SystemTime& utc);
// Five decimals and a hemisphere letter: "49.73145N", "33.86000S", "8.95564E".
std::string SidsLatitude(double degrees);
std::string SidsLongitude(double degrees);
// Upper-case hexadecimal, no blanks.
std::string HexUpper(std::string_view bytes);

using FormFields = std::vector<std::pair<std::string, std::string>>;
// The fields in the order sent: noradID, source, timestamp, frame, locator,
// longitude, latitude, version (the program's).
FormFields SidsFields(const SidsFrame& frame);
// name=value pairs joined by '&', each percent-encoded; the result holds no
// blank and no line break, so it stores as one word of a text line.
std::string FormEncode(const FormFields& fields);

}  // namespace kestrel
