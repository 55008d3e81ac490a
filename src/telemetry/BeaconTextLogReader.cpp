// Reading BeaconTextLog lines back into entries, and making the same entries
// from records.

#include "telemetry/BeaconTextLogReader.h"

#include "telemetry/Archive.h"
#include "telemetry/TextFormat.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace kestrel {
namespace {

constexpr std::size_t kLineFields = 30;
// Lines of a tree decoded from a telemetry database's frames add the
// observers and the count of receptions.
constexpr std::size_t kPooledLineFields = 32;
constexpr std::string_view kFirstHeaderLine = "KESTREL (ZZ0KR) beacon data log file";

// Whole-field parsers; each is false unless the field is exactly a number of
// the form the archive writes and fits the type. Hand-written loops: a year
// of BeaconTextLogs is half a million lines of 30 fields, read whenever the
// trend window opens them.
template <typename T>
bool parseInteger(std::string_view text, T& out) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        if (!std::numeric_limits<T>::is_signed)
            return false;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 18)
        return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (negative)
        v = -v;
    if (v < static_cast<long long>(std::numeric_limits<T>::min()) ||
        v > static_cast<long long>(std::numeric_limits<T>::max()))
        return false;
    out = static_cast<T>(v);
    return true;
}

// Right-aligned fields carry blanks in front.
template <typename T>
bool parseRightAligned(std::string_view text, T& out) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return parseInteger(text, out);
}

template <typename T>
bool parseFixed(std::string_view text, T& out) {
    if (text == "Nan") {
        out = std::numeric_limits<T>::quiet_NaN();
        return true;
    }
    if (text == "+Inf" || text == "-Inf") {
        out = text.front() == '-' ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
        return true;
    }
    if (text.empty())
        return false;
    // Only "-digits.digits": from_chars alone would also take "nan" or "1e5".
    const bool negative = text.front() == '-';
    std::size_t i = negative ? 1 : 0;
    bool point = false;
    int digits = 0, decimals = 0;
    std::uint64_t mantissa = 0;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            ++digits;
            decimals += point;
            if (digits <= 19)
                mantissa = mantissa * 10 + std::uint64_t(text[i] - '0');
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0)
        return false;
    // Few digits: the digits and the power of ten are exact in T, so one
    // division rounds correctly, as from_chars does.
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr int kExactDigits = std::numeric_limits<T>::digits >= 53 ? 15 : 7;
    constexpr int kExactPowers = std::numeric_limits<T>::digits >= 53 ? 22 : 10;
    if (digits <= kExactDigits && decimals <= kExactPowers) {
        out = T(mantissa) / T(kPowers[decimals]);
        if (negative)
            out = -out;
        return true;
    }
    const auto res = std::from_chars(text.data(), text.data() + text.size(), out, std::chars_format::fixed);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

bool parseStatus(std::string_view text, std::array<std::uint8_t, kStatusByteCount>& out) {
    if (text.size() != 2 + 2 * kStatusByteCount || !text.starts_with("0x"))
        return false;
    for (std::size_t i = 0; i < kStatusByteCount; ++i) {
        const int hi = hexDigitValue(text[2 + 2 * i]), lo = hexDigitValue(text[3 + 2 * i]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return true;
}

// "dd" parts of the date and time; exactly `width` digits.
bool parseDigits(std::string_view text, std::size_t width, std::uint16_t lo, std::uint16_t hi, std::uint16_t& out) {
    if (text.size() != width)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return parseInteger(text, out) && out >= lo && out <= hi;
}

std::uint16_t daysInMonth(std::uint16_t year, std::uint16_t month) {
    static constexpr std::uint16_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool parseDate(std::string_view t, SystemTime& out) {
    return t.size() == 10 && t[4] == '-' && t[7] == '-' && parseDigits(t.substr(0, 4), 4, 1, 9999, out.year) &&
           parseDigits(t.substr(5, 2), 2, 1, 12, out.month) &&
           parseDigits(t.substr(8, 2), 2, 1, daysInMonth(out.year, out.month), out.day);
}

bool parseTime(std::string_view t, SystemTime& out) {
    return t.size() == 8 && t[2] == ':' && t[5] == ':' && parseDigits(t.substr(0, 2), 2, 0, 23, out.hour) &&
           parseDigits(t.substr(3, 2), 2, 0, 59, out.minute) && parseDigits(t.substr(6, 2), 2, 0, 59, out.second);
}

}  // namespace

BeaconLogEntry beaconLogEntry(const BeaconRecord& r, const SystemTime& utc) {
    BeaconLogEntry e;
    e.utc = utc;
    e.flightTime = r.FlightTime();
    e.vbat = r.Vbat();
    e.iin = r.Iin();
    e.isys = r.Isys();
    e.bx = r.Bx();
    e.by = r.By();
    e.bz = r.Bz();
    e.latitude = r.Latitude();
    e.longitude = r.Longitude();
    e.altitude = r.Altitude();
    e.velocity = r.Velocity();
    e.gpsOn = r.GpsOn();
    e.tcpu = r.TcpuCelsius();
    e.tpsu = r.Tpsu();
    e.toutMin = r.ToutMin();
    e.toutMax = r.ToutMax();
    e.transponderTime = r.TransponderTime();
    e.transponderOn = r.TransponderOn();
    for (std::size_t i = 0; i < kIsunCount; ++i)
        e.isun[i] = r.Isun(i);
    for (std::size_t i = 0; i < kFotoCount; ++i)
        e.foto[i] = r.Foto(i);
    for (std::size_t i = 0; i < kStatusByteCount; ++i)
        e.statusBytes[i] = r.StatusByte(i);
    e.boots = r.Boots();
    e.lastBootCause = r.LastBootCause();
    return e;
}

std::optional<BeaconLogEntry> parseBeaconTextLogLine(std::string_view line) {
    std::array<std::string_view, kPooledLineFields> f;
    std::size_t n = 0;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        if (n == kPooledLineFields)
            return std::nullopt;
        f[n++] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (n != kLineFields && n != kPooledLineFields)
        return std::nullopt;

    BeaconLogEntry e;
    bool ok = parseInteger(f[0], e.flightTime) && parseRightAligned(f[1], e.vbat) && parseRightAligned(f[2], e.iin) &&
              parseRightAligned(f[3], e.isys) && parseFixed(f[4], e.bx) && parseFixed(f[5], e.by) &&
              parseFixed(f[6], e.bz) && parseFixed(f[7], e.latitude) && parseFixed(f[8], e.longitude) &&
              parseFixed(f[9], e.altitude) && parseFixed(f[10], e.velocity) && parseInteger(f[11], e.gpsOn) &&
              parseFixed(f[12], e.tcpu) && parseInteger(f[13], e.tpsu) && parseInteger(f[14], e.toutMin) &&
              parseInteger(f[15], e.toutMax) && parseInteger(f[16], e.transponderTime) &&
              parseInteger(f[17], e.transponderOn);
    for (std::size_t i = 0; ok && i < kIsunCount; ++i)
        ok = parseInteger(f[18 + i], e.isun[i]);
    for (std::size_t i = 0; ok && i < kFotoCount; ++i)
        ok = parseInteger(f[21 + i], e.foto[i]);
    ok = ok && parseStatus(f[27], e.statusBytes) && parseDate(f[28], e.utc) && parseTime(f[29], e.utc);
    if (ok && n == kPooledLineFields) {
        e.observers = std::string(f[30]);
        ok = parseInteger(f[31], e.receptions);
    }
    if (!ok)
        return std::nullopt;
    return e;
}

BeaconTextLogLine readBeaconTextLogLine(std::string_view line, BeaconLogEntry& entry) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    // A re-decoded tree's title line carries further column titles.
    if (line.empty() || line == kFirstHeaderLine || line.starts_with(kBeaconTextLogTitle))
        return BeaconTextLogLine::Passed;
    if (auto e = parseBeaconTextLogLine(line)) {
        entry = *e;
        return BeaconTextLogLine::Entry;
    }
    return BeaconTextLogLine::Skipped;
}

BeaconTextLogContents parseBeaconTextLog(std::string_view text) {
    BeaconTextLogContents contents;
    BeaconLogEntry entry;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        switch (readBeaconTextLogLine(line, entry)) {
        case BeaconTextLogLine::Entry: contents.entries.push_back(entry); break;
        case BeaconTextLogLine::Skipped: ++contents.skippedLines; break;
        case BeaconTextLogLine::Passed: break;
        }
    }
    return contents;
}

bool looksLikeBeaconTextLog(std::string_view start) { return start.starts_with(kFirstHeaderLine); }

bool readWholeFile(const std::string& path, std::string& text) {
    std::FILE* f = openFile(path, "rb");
    if (!f)
        return false;
    text.clear();
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace kestrel
