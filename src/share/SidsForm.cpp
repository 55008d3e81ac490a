// One frame as the telemetry server takes it: the form's fields and their encoding (see SidsForm.h).

#include "share/SidsForm.h"

#include "Version.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kestrel {

namespace {

std::string Degrees(double degrees, char positive, char negative) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(degrees), std::chars_format::fixed, 5);
    std::string text(buf, ec == std::errc() ? end : buf);
    // -0.000001 prints as 0.00000: no southern hemisphere for what reads as zero.
    text += (degrees < 0 && text != "0.00000") ? negative : positive;
    return text;
}

}  // namespace

std::string SidsTimestamp(const SystemTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", unsigned(t.year), unsigned(t.month),
                  unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second),
                  unsigned(t.millisecond % 1000));
    return buf;
}

std::string SidsLatitude(double degrees) { return Degrees(degrees, 'N', 'S'); }
std::string SidsLongitude(double degrees) { return Degrees(degrees, 'E', 'W'); }

std::string HexUpper(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

FormFields SidsFields(const SidsFrame& f) {
    return {
        {"noradID", std::to_string(f.noradId)}, {"source", f.source},   {"timestamp", SidsTimestamp(f.utc)},
        {"frame", HexUpper(f.frame)},           {"locator", "longLat"}, {"longitude", SidsLongitude(f.longitude)},
        {"latitude", SidsLatitude(f.latitude)}, {"version", kVersion},
    };
}

std::string FormEncode(const FormFields& fields) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    auto encode = [](std::string& out, const std::string& s) {
        for (unsigned char c : s) {
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                out += char(c);
            else if (c == '-' || c == '.' || c == '_' || c == '~')
                out += char(c);
            else {
                out += '%';
                out += kDigits[c >> 4];
                out += kDigits[c & 15];
            }
        }
    };
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty())
            body += '&';
        encode(body, name);
        body += '=';
        encode(body, value);
    }
    return body;
}

}  // namespace kestrel
