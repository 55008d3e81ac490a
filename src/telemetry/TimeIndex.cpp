// The RawByteLog's time index: its encoding, reading it back with torn
// entries left out, and the writer that keeps it beside the log (see
// TimeIndex.h for the file layout).
//
// In order: numbers and dates; the encoder; the reader (parseTimeIndex, and
// TimeIndexReader's byte-by-byte segments); the writer.

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
    TimeIndexReader reader;
    reader.feed(bytes, [&c](const TimeIndexEntry& e) { c.entries.push_back(e); });
    reader.finish();
    c.recognised = reader.recognised();
    c.dropped = reader.dropped();
    return c;
}

// The reader sees the file as segments, each starting at a mark 0x80 0x00:
// the first entry in whole numbers, then steps. A byte 0x80 waits for the
// next to tell whether a mark starts (minimal LEB128 never holds 0x80 0x00).
bool TimeIndexReader::push(std::uint8_t byte) {
    switch (phase_) {
    case Phase::Header:
        if (byte != static_cast<std::uint8_t>(kTimeIndexHeader[headerSeen_])) {
            phase_ = Phase::Foreign;
            return false;
        }
        if (++headerSeen_ == kTimeIndexHeader.size())
            phase_ = Phase::BeforeFirstMark;
        return false;
    case Phase::Foreign: return false;
    default: break;
    }
    if (pendingMark_) {
        pendingMark_ = false;
        if (byte == 0x00) {
            if (phase_ == Phase::BeforeFirstMark) {
                if (strayBytes_)
                    ++dropped_;
            } else {
                endSegment();
            }
            phase_ = Phase::Segment;
            want_ = Want::Offset;
            step_ = 0;
            return false;
        }
        // The 0x80 was a number's byte (one that never ends a number); this
        // one is handled in turn after it.
        take(0x80);
    }
    if (byte == 0x80) {
        pendingMark_ = true;
        return false;
    }
    return take(byte);
}

// One byte of a segment's numbers; true when it completed an entry.
bool TimeIndexReader::take(std::uint8_t byte) {
    if (phase_ == Phase::BeforeFirstMark) {
        strayBytes_ = true;
        return false;
    }
    if (phase_ != Phase::Segment)
        return false;
    if (!inNumber_) {
        value_ = 0;
        shift_ = 0;
        inNumber_ = true;
    }
    value_ |= std::uint64_t{byte & 0x7fu} << shift_;
    if (byte & 0x80) {
        shift_ += 7;
        if (shift_ >= 64) {  // longer than 64 bits: the rest of the segment is lost
            inNumber_ = false;
            ++dropped_;
            phase_ = Phase::SkipSegment;
        }
        return false;
    }
    inNumber_ = false;
    return numberDone();
}

bool TimeIndexReader::numberDone() {
    std::uint64_t late = 0;
    switch (want_) {
    case Want::Offset:
        first_ = value_;
        want_ = Want::Time;
        return false;
    case Want::Time:
        entry_ = {first_, static_cast<std::int64_t>(value_)};
        want_ = Want::Step;
        break;
    case Want::Step:
        packed_ = value_;
        if ((packed_ & kInlineTimeSteps) == kInlineTimeSteps) {
            want_ = Want::LateTime;
            return false;
        }
        [[fallthrough]];
    case Want::LateTime: {
        const bool lateTime = want_ == Want::LateTime;
        if (lateTime)
            late = value_;
        want_ = Want::Step;
        step_ += static_cast<std::uint64_t>(unzigzag(packed_ >> 5));
        entry_.offset += step_;
        // Unsigned, so that a damaged index wraps instead of overflowing.
        const std::uint64_t timeStep = kTimeIndexSpacingMs + (lateTime ? static_cast<std::uint64_t>(unzigzag(late))
                                                                       : (packed_ & kInlineTimeSteps));
        entry_.utcMs = static_cast<std::int64_t>(static_cast<std::uint64_t>(entry_.utcMs) + timeStep);
        break;
    }
    }
    if (lastOffset_ && entry_.offset < *lastOffset_) {
        ++dropped_;
        return false;
    }
    lastOffset_ = entry_.offset;
    return true;
}

void TimeIndexReader::finish() {
    if (pendingMark_) {
        pendingMark_ = false;
        take(0x80);  // never ends a number
    }
    endSegment();
    if (recognised())
        phase_ = Phase::SkipSegment;
}

// A segment ends at the next mark or the file's end: an entry not whole
// there is torn (the write that carried it failed or was cut off).
void TimeIndexReader::endSegment() {
    if (phase_ == Phase::Segment && (inNumber_ || want_ != Want::Step))
        ++dropped_;
    inNumber_ = false;
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

void TimeIndexWriter::continueIn(const std::string& rawByteLogPath) noexcept {
    const bool timed = pending_ || lastTick_.has_value();
    open(rawByteLogPath);
    pending_ = timed;  // pendingMs_ still holds the latest chunk's time
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
    report_ = "Time index " + path_ + " not written: " + why;
}

std::optional<std::string> TimeIndexWriter::takeReport() {
    std::optional<std::string> r;
    r.swap(report_);
    return r;
}

}  // namespace kestrel
