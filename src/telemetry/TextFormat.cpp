// Locale-free number, date and time texts for the decoded pane and the archive.

#include "telemetry/TextFormat.h"

#include <charconv>
#include <cmath>

namespace kestrel {
namespace {

std::string padDigits(std::string digits, int minDigits) {
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
    return digits;
}

std::string finiteFixed(double value, int decimals) {
    // Enough for any double in fixed notation (up to 309 integer digits).
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return std::string(buf, res.ptr);
}

}  // namespace

std::string formatUnsigned(std::uint64_t value, int minDigits) { return padDigits(std::to_string(value), minDigits); }

std::string formatSigned(std::int64_t value, int minDigits) {
    if (value >= 0)
        return formatUnsigned(static_cast<std::uint64_t>(value), minDigits);
    // Negate in unsigned arithmetic so the most negative value survives.
    const auto magnitude = static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(value);
    return "-" + formatUnsigned(magnitude, minDigits);
}

std::string formatHex2(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::string formatRightAligned(std::uint64_t value, int width) {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width) - s.size(), ' ');
    return s;
}

std::string formatFixedPane(double value, int decimals) {
    if (std::isnan(value))
        return std::signbit(value) ? "-NAN" : "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    return finiteFixed(value, decimals);
}

std::string formatFixedLog(double value, int decimals) {
    if (std::isnan(value))
        return "Nan";
    if (std::isinf(value))
        return value < 0 ? "-Inf" : "+Inf";
    return finiteFixed(value, decimals);
}

std::string formatDate(const SystemTime& t) {
    return formatUnsigned(t.year, 4) + "-" + formatUnsigned(t.month, 2) + "-" + formatUnsigned(t.day, 2);
}

std::string formatTime(const SystemTime& t) {
    return formatUnsigned(t.hour, 2) + ":" + formatUnsigned(t.minute, 2) + ":" + formatUnsigned(t.second, 2);
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace kestrel
