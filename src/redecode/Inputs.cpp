// What each input of kestrel-redecode is and where its times come from (see
// Inputs.h).

#include "redecode/Inputs.h"

#include "redecode/Pooled.h"
#include "telemetry/BeaconTextLogReader.h"
#include "telemetry/FileSystem.h"
#include "telemetry/TextFormat.h"

#include <chrono>
#include <cstdio>
#include <string_view>
#include <utility>

namespace kestrel::redecode {

namespace fs = std::filesystem;

namespace {

SystemTime modificationTime(const fs::path& file) {
    const auto t = fs::last_write_time(file);
    const auto sys = std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::file_clock::to_sys(t));
    return utcFromMilliseconds(sys.time_since_epoch().count());
}

}  // namespace

std::optional<SystemTime> parseUtcTime(const std::string& text) {
    unsigned y, mo, d, h, mi, se;
    char sep, end;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2u%c%2u:%2u:%2u%c", &y, &mo, &d, &sep, &h, &mi, &se, &end) != 7 ||
        (sep != ' ' && sep != 'T') || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59)
        return std::nullopt;
    SystemTime t{static_cast<std::uint16_t>(y),
                 static_cast<std::uint16_t>(mo),
                 0,
                 static_cast<std::uint16_t>(d),
                 static_cast<std::uint16_t>(h),
                 static_cast<std::uint16_t>(mi),
                 static_cast<std::uint16_t>(se),
                 0};
    return utcFromMilliseconds(utcMilliseconds(t));  // fills in the day of the week
}

InputKind inputKindOf(const fs::path& file) {
    const std::string name = utf8Of(file.filename());
    if (rawByteLogStamp(name))
        return InputKind::RawBytes;
    if (hasBeaconTextLogName(name))
        return InputKind::BeaconTextLog;
    char start[256] = {};
    std::size_t n = 0;
    if (std::FILE* f = openFile(utf8Of(file), "rb")) {
        n = std::fread(start, 1, sizeof start, f);
        std::fclose(f);
    }
    const std::string_view head(start, n);
    if (looksLikeBeaconTextLog(head))
        return InputKind::BeaconTextLog;
    if (looksLikeTimeIndex(head))
        return InputKind::TimeIndex;
    if (const auto pooled = pooledFormatOf(head))
        return *pooled == PooledFormat::Json ? InputKind::PooledJson : InputKind::PooledExport;
    return InputKind::RawBytes;
}

bool TimeSource::next(TimeIndexEntry& entry) {
    if (first) {
        entry = *std::exchange(first, std::nullopt);
        return true;
    }
    return index && index->next(entry);
}

std::string TimeSource::finalSaid() {
    if (!index)
        return said;
    index->readToEnd();
    std::string text = said;
    if (index->dropped())
        text += " (" + std::to_string(index->dropped()) + " torn entries left out)";
    if (!index->readError().empty())
        text += " (its time index could not be read to the end: " + index->readError() + ")";
    return text;
}

TimeSource timeSourceOf(const std::vector<TimeIndexFile::LogPiece>& pieces, const std::optional<SystemTime>& start,
                        const std::function<void(const std::string&)>& refused) {
    TimeSource ts;
    const fs::path file = pathFromUtf8(pieces.front().path);
    auto index = std::make_unique<TimeIndexFile>(pieces);
    if (!index->refusal().empty())
        refused(index->refusal() + "; not read, the beacons take the next source of times");
    TimeIndexEntry first{};
    const bool recognised = index->recognised();
    if (index->next(first))
        ts.first = first;
    const auto named = rawByteLogStamp(utf8Of(file.filename()));
    if (named)
        ts.start = *named;
    else if (start)
        ts.start = *start;
    else if (ts.first)
        ts.start = utcFromMilliseconds(ts.first->utcMs);
    else
        ts.start = modificationTime(file);
    if (ts.first) {
        ts.said = "times from its time index";
        ts.index = std::move(index);
        return ts;
    }
    const std::string at = formatDate(ts.start) + " " + formatTime(ts.start) + " UTC";
    ts.said = named   ? "time from its name, " + at
              : start ? "time from --start, " + at
                      : "time from its modification time, " + at;
    if (recognised)
        ts.said += " (its time index holds no whole entry)";
    else if (!index->refusal().empty())
        ts.said += " (its time index not read)";
    return ts;
}

}  // namespace kestrel::redecode
