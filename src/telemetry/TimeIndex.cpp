// The RawByteLog's time index: its encoding, reading it back with torn
// entries left out, and the writer that keeps it beside the log (see
// TimeIndex.h for the file layout).

#include "telemetry/TimeIndex.h"

#include "telemetry/InOutError.h"

#include <exception>

namespace kestrel {
namespace {

constexpr std::string_view kSegmentMark("\x80\x00", 2);
constexpr std::int64_t kMsPerDay = 86'400'000;

void appendLeb128(std::string& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<char>(0x80 | (v & 0x7f)));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

std::uint64_t zigzag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}
std::int64_t unzigzag(std::uint64_t v) { return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1); }

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

// One number at bytes[at]; false when it is cut off or longer than 64 bits.
bool readLeb128(std::string_view bytes, std::size_t& at, std::uint64_t& v) {
    v = 0;
    for (unsigned shift = 0; at < bytes.size() && shift < 64; shift += 7) {
        const auto b = static_cast<std::uint8_t>(bytes[at++]);
        v |= std::uint64_t{b & 0x7fu} << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

}  // namespace

std::string timeIndexPath(std::string_view rawByteLogPath) {
    return std::string(rawByteLogPath) + std::string(kTimeIndexExtension);
}

std::int64_t utcMilliseconds(const SystemTime& t) {
    return daysFromCivil(t.year, t.month, t.day) * kMsPerDay +
           ((t.hour * 60 + t.minute) * 60 + t.second) * std::int64_t{1000} + t.millisecond;
}

SystemTime utcFromMilliseconds(std::int64_t ms) {
    std::int64_t days = ms / kMsPerDay;
    std::int64_t rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    SystemTime t;
    t.year = static_cast<std::uint16_t>(y);
    t.month = static_cast<std::uint16_t>(m);
    t.day = static_cast<std::uint16_t>(d);
    t.dayOfWeek = static_cast<std::uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    t.hour = static_cast<std::uint16_t>(rest / 3'600'000);
    t.minute = static_cast<std::uint16_t>(rest / 60'000 % 60);
    t.second = static_cast<std::uint16_t>(rest / 1000 % 60);
    t.millisecond = static_cast<std::uint16_t>(rest % 1000);
    return t;
}

// The time steps that fit P's five low bits: 100 to 130 ms.
constexpr std::uint64_t kInlineTimeSteps = 31;

std::string TimeIndexEncoder::encode(const TimeIndexEntry& entry, bool newSegment) {
    std::string out;
    absolute_ = newSegment || !last_ || entry.offset < last_->offset;
    if (absolute_) {
        out = kSegmentMark;
        appendLeb128(out, entry.offset);
        appendLeb128(out, static_cast<std::uint64_t>(entry.utcMs < 0 ? 0 : entry.utcMs));
        return out;
    }
    const std::uint64_t step = entry.offset - last_->offset;
    const std::int64_t late = entry.utcMs - last_->utcMs - kTimeIndexSpacingMs;
    const bool inline_ = late >= 0 && static_cast<std::uint64_t>(late) < kInlineTimeSteps;
    appendLeb128(out, zigzag(static_cast<std::int64_t>(step - lastStep_)) << 5 |
                          (inline_ ? static_cast<std::uint64_t>(late) : kInlineTimeSteps));
    if (!inline_)
        appendLeb128(out, zigzag(late));
    return out;
}

void TimeIndexEncoder::stored(const TimeIndexEntry& entry) {
    // After a segment mark the step starts from nothing again.
    lastStep_ = absolute_ ? 0 : entry.offset - last_->offset;
    last_ = entry;
}

bool looksLikeTimeIndex(std::string_view start) { return start.starts_with(kTimeIndexHeader); }

TimeIndexContents parseTimeIndex(std::string_view bytes) {
    TimeIndexContents c;
    if (!looksLikeTimeIndex(bytes))
        return c;
    c.recognised = true;
    std::size_t at = bytes.find(kSegmentMark, kTimeIndexHeader.size());
    if (at != kTimeIndexHeader.size() && at != std::string_view::npos)
        ++c.dropped;
    while (at != std::string_view::npos) {
        const std::size_t start = at + kSegmentMark.size();
        const std::size_t next = bytes.find(kSegmentMark, start);
        const std::string_view segment = bytes.substr(start, next == std::string_view::npos ? next : next - start);
        std::size_t pos = 0;
        TimeIndexEntry entry{};
        std::uint64_t step = 0;
        std::uint64_t a = 0, b = 0;
        if (!readLeb128(segment, pos, a) || !readLeb128(segment, pos, b)) {
            ++c.dropped;  // torn: the write that carried it failed or was cut off
            pos = segment.size();
        } else {
            entry = {a, static_cast<std::int64_t>(b)};
            if (!c.entries.empty() && entry.offset < c.entries.back().offset)
                ++c.dropped;
            else
                c.entries.push_back(entry);
        }
        while (pos < segment.size()) {
            std::uint64_t p = 0, late = 0;
            if (!readLeb128(segment, pos, p) ||
                ((p & kInlineTimeSteps) == kInlineTimeSteps && !readLeb128(segment, pos, late))) {
                ++c.dropped;
                break;
            }
            step += static_cast<std::uint64_t>(unzigzag(p >> 5));
            entry.offset += step;
            // Unsigned, so that a damaged index wraps instead of overflowing.
            const std::uint64_t timeStep = kTimeIndexSpacingMs + ((p & kInlineTimeSteps) == kInlineTimeSteps
                                                                      ? static_cast<std::uint64_t>(unzigzag(late))
                                                                      : (p & kInlineTimeSteps));
            entry.utcMs = static_cast<std::int64_t>(static_cast<std::uint64_t>(entry.utcMs) + timeStep);
            if (!c.entries.empty() && entry.offset < c.entries.back().offset) {
                ++c.dropped;
                continue;
            }
            c.entries.push_back(entry);
        }
        at = next;
    }
    return c;
}

void TimeIndexWriter::open(const std::string& rawByteLogPath) noexcept {
    close();
    path_ = timeIndexPath(rawByteLogPath);
    encoder_.reset();
    lastTick_.reset();
    newSegment_ = true;
    // The log was just made under a free name: an index of that name is left
    // from a log that is gone.
    if (fs_.fileExists(path_))
        fs_.removeFile(path_);
    // The file itself comes with the first entry: a run that reads nothing
    // has nothing to index.
}

void TimeIndexWriter::close() noexcept {
    pending_ = false;
    if (file_ == kNoFile)
        return;
    const FileHandle file = file_;
    file_ = kNoFile;
    try {
        fs_.close(file);
    } catch (...) {
    }
}

bool TimeIndexWriter::ensureFile() {
    if (file_ != kNoFile)
        return true;
    if (path_.empty())
        return false;
    bool created = false;
    try {
        file_ = fs_.createFile(path_);
        created = true;
        fs_.write(file_, kTimeIndexHeader.data(), kTimeIndexHeader.size());
        newSegment_ = true;
        return true;
    } catch (const std::exception& e) {
        // A file without its whole header would never be read: start it again later.
        if (created) {
            close();
            fs_.removeFile(path_);
        }
        failed(e.what());
        return false;
    }
}

void TimeIndexWriter::entryDue(std::uint64_t offset) {
    pending_ = false;
    lastTick_ = pendingTick_;  // failed tries too: at most ten a second
    if (!ensureFile())
        return;
    const TimeIndexEntry entry{offset, pendingMs_};
    const std::string bytes = encoder_.encode(entry, newSegment_);
    try {
        fs_.write(file_, bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        newSegment_ = true;  // part of it may be there: the reader drops that
        failed(e.what());
        return;
    }
    encoder_.stored(entry);
    newSegment_ = false;
    failing_ = false;
}

void TimeIndexWriter::failed(const std::string& why) {
    ++failures_;
    if (failing_)
        return;
    failing_ = true;
    report_ = "Time index not written: " + why;
}

std::optional<std::string> TimeIndexWriter::takeReport() {
    std::optional<std::string> r;
    r.swap(report_);
    return r;
}

}  // namespace kestrel
