#pragma once
// Number, date and time texts of the decoded pane and the archive. They never
// depend on the process's locale: the decimal separator is always ".".

#include "telemetry/Clock.h"

#include <cstdint>
#include <string>

namespace kestrel {

// At least minDigits digits, zero-filled on the left; a "-" goes before the digits.
std::string formatUnsigned(std::uint64_t value, int minDigits = 0);
std::string formatSigned(std::int64_t value, int minDigits = 0);
// Two upper-case hexadecimal digits.
std::string formatHex2(std::uint8_t value);
// The value of one hex digit (either case), or -1 for any other character.
int hexDigitValue(char c);
// Right-aligned with blanks in width characters; longer numbers stay whole.
std::string formatRightAligned(std::uint64_t value, int width);

// Fixed point with exactly `decimals` digits after "." (none and no point for 0),
// no exponent. Non-finite values as the decoded pane shows them: INF, -INF, NAN, -NAN.
std::string formatFixedPane(double value, int decimals);
// The same for the BeaconTextLog, whose non-finite forms are Nan, +Inf, -Inf.
std::string formatFixedLog(double value, int decimals);

// "yyyy-mm-dd" and "HH:mm:ss" (milliseconds dropped).
std::string formatDate(const SystemTime& t);
std::string formatTime(const SystemTime& t);

}  // namespace kestrel
