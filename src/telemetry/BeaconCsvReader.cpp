// The beacon CSV's columns by name, and its rows (see BeaconCsvReader.h).

#include "telemetry/BeaconCsvReader.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace kestrel {
namespace {

constexpr std::string_view kTimeColumn = "ReceiveTime";

// The columns read, by the name before the unit.
enum Field {
    Time,
    Flight,
    Vbat,
    Iin,
    Isys,
    Bx,
    By,
    Bz,
    Lat,
    Lon,
    Alt,
    Vel,
    Gps,
    Tcpu,
    Tpsu,
    ToutMin,
    ToutMax,
    Isun1,
    Isun2,
    Isun3,
    kFields
};
constexpr std::array<std::string_view, kFields> kNames{
    "ReceiveTime", "FlightTime", "Vbat",  "Iin",  "Isys", "Bx",      "By",      "Bz",    "Latitude", "Longitude",
    "Altitude",    "Velocity",   "GpsOn", "Tcpu", "Tpsu", "ToutMin", "ToutMax", "Isun1", "Isun2",    "Isun3"};

std::string_view nameOf(std::string_view header) {
    const std::size_t end = header.find_first_of(" [(");
    return header.substr(0, end);
}

bool number(std::string_view text, double& v) {
    if (text.empty())
        return false;
    if (text.front() == '+')
        text.remove_prefix(1);
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

template <typename T>
void setInteger(std::string_view text, T& out) {
    double v;
    if (number(text, v) && std::isfinite(v))
        out = static_cast<T>(v);
}

// 2024-03-05T14:15:07.250Z, the milliseconds optional.
bool isoTime(std::string_view s, SystemTime& t) {
    if (s.size() < 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' || s.back() != 'Z')
        return false;
    auto part = [&s](std::size_t at, std::size_t n, std::uint16_t& out) {
        unsigned v = 0;
        const auto res = std::from_chars(s.data() + at, s.data() + at + n, v);
        out = static_cast<std::uint16_t>(v);
        return res.ec == std::errc() && res.ptr == s.data() + at + n;
    };
    t = {};
    bool ok = part(0, 4, t.year) && part(5, 2, t.month) && part(8, 2, t.day) && part(11, 2, t.hour) &&
              part(14, 2, t.minute) && part(17, 2, t.second);
    if (ok && s.size() > 20)
        ok = s[19] == '.' && s.size() == 24 && part(20, 3, t.millisecond);
    return ok && s.size() != 21;
}

}  // namespace

bool BeaconCsvReader::looksLikeBeaconCsv(std::string_view start) { return start.starts_with(kTimeColumn); }

bool BeaconCsvReader::readHeader(std::string_view line) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    fields_.clear();
    bool time = false;
    while (true) {
        const std::size_t comma = line.find(',');
        const std::string_view name = nameOf(line.substr(0, comma));
        int field = -1;
        for (int f = 0; f < kFields; ++f)
            if (kNames[std::size_t(f)] == name)
                field = f;
        time = time || field == Time;
        fields_.push_back(field);
        if (comma == std::string_view::npos)
            break;
        line.remove_prefix(comma + 1);
    }
    return time;
}

std::optional<BeaconLogEntry> BeaconCsvReader::readRow(std::string_view line) const {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    BeaconLogEntry e;
    bool timed = false;
    for (std::size_t column = 0; column < fields_.size(); ++column) {
        const std::size_t comma = line.find(',');
        const std::string_view text = line.substr(0, comma);
        double v = 0;
        const bool isNumber = number(text, v);
        switch (fields_[column]) {
        case Time: timed = isoTime(text, e.utc); break;
        case Flight: setInteger(text, e.flightTime); break;
        case Vbat: setInteger(text, e.vbat); break;
        case Iin: setInteger(text, e.iin); break;
        case Isys: setInteger(text, e.isys); break;
        case Bx: e.bx = isNumber ? float(v) : NAN; break;
        case By: e.by = isNumber ? float(v) : NAN; break;
        case Bz: e.bz = isNumber ? float(v) : NAN; break;
        case Lat: e.latitude = isNumber ? v : NAN; break;
        case Lon: e.longitude = isNumber ? v : NAN; break;
        case Alt: e.altitude = isNumber ? v : NAN; break;
        case Vel: e.velocity = isNumber ? v : NAN; break;
        case Gps: setInteger(text, e.gpsOn); break;
        case Tcpu: e.tcpu = isNumber ? v : NAN; break;
        case Tpsu: setInteger(text, e.tpsu); break;
        case ToutMin: setInteger(text, e.toutMin); break;
        case ToutMax: setInteger(text, e.toutMax); break;
        case Isun1: setInteger(text, e.isun[0]); break;
        case Isun2: setInteger(text, e.isun[1]); break;
        case Isun3: setInteger(text, e.isun[2]); break;
        default: break;
        }
        if (comma == std::string_view::npos)
            break;
        line.remove_prefix(comma + 1);
    }
    if (!timed)
        return std::nullopt;
    return e;
}

}  // namespace kestrel
