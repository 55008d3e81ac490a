// Pooled frames read back: the JSON of SatNOGS DB's telemetry API through a
// SAX parser (nlohmann/json), the export's lines, each frame through the
// program's frame finder, merging, and the rows and tree that come of it.
//
// Sections:
//   Reading    text helpers; the bytes from a file or memory (Source), one
//              at a time for the parser (Cursor); the API's entries as the
//              SAX parser meets them (TelemetrySax); which format a file is;
//              the database's times
//   Merging    BeaconMerger: copies of a beacon within the window, held
//              beacons bounded
//   Decoding   PooledDecoding: each entry's frame through the frame finder,
//              duplicates dropped, merged rows to the CSV and the tree

#include "redecode/Pooled.h"

#include "redecode/TreeParts.h"

#include "telemetry/Archive.h"
#include "telemetry/FileSystem.h"
#include "telemetry/FrameFinder.h"
#include "telemetry/InOutError.h"
#include "telemetry/TextFormat.h"
#include "telemetry/TimeIndex.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace kestrel::redecode {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// Hex digits in pairs, nothing else; false otherwise.
bool unhex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0)
        return false;
    out.resize(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = hexDigitValue(hex[2 * i]), lo = hexDigitValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool digits(std::string_view s, std::size_t at, std::size_t n, unsigned& out) {
    if (at + n > s.size())
        return false;
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        out = out * 10 + unsigned(s[i] - '0');
    }
    return true;
}

// Where bytes come from: a file in blocks, or memory in one.
class Source {
public:
    virtual ~Source() = default;
    // The next bytes; empty only at the end.
    virtual std::string_view next() = 0;
};

class MemorySource final : public Source {
public:
    explicit MemorySource(std::string_view text) : text_(text) {}
    std::string_view next() override { return std::exchange(text_, {}); }

private:
    std::string_view text_;
};

class FileSource final : public Source {
public:
    FileSource(const std::string& path, const std::function<void(std::uint64_t)>& progress)
        : file_(openFile(path, "rb")), progress_(progress), block_(1 << 20) {
        if (!file_)
            throw std::runtime_error(errnoWords(errno));
    }
    ~FileSource() override { std::fclose(file_); }
    std::string_view next() override {
        const std::size_t n = std::fread(block_.data(), 1, block_.size(), file_);
        if (n == 0 && std::ferror(file_))
            throw std::runtime_error(errnoWords(errno));
        done_ += n;
        if (progress_ && n > 0)
            progress_(done_);
        return {block_.data(), n};
    }

private:
    std::FILE* file_;
    const std::function<void(std::uint64_t)>& progress_;
    std::vector<char> block_;
    std::uint64_t done_ = 0;
};

// The source one byte at a time, as the JSON parser reads it.
class Cursor {
public:
    explicit Cursor(Source& source) : source_(source) {}
    bool atEnd() {
        if (pos_ == block_.size()) {
            block_ = source_.next();
            pos_ = 0;
        }
        return block_.empty();
    }
    char peek() const { return block_[pos_]; }
    void advance() {
        ++pos_;
        ++offset_;
    }
    std::uint64_t offset() const { return offset_; }
    // Passes over blanks; false at the end.
    bool skipBlanks() {
        while (!atEnd()) {
            if (kBlanks.find(peek()) == std::string_view::npos)
                return true;
            advance();
        }
        return false;
    }

private:
    Source& source_;
    std::string_view block_;
    std::size_t pos_ = 0;
    std::uint64_t offset_ = 0;
};

// The cursor as the input iterator the parser takes; a default one is the end.
class CursorIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    CursorIterator() = default;
    explicit CursorIterator(Cursor& cursor) : cursor_(&cursor) {}
    char operator*() const { return cursor_->peek(); }
    CursorIterator& operator++() {
        cursor_->advance();
        return *this;
    }
    bool operator==(const CursorIterator& other) const { return ended() == other.ended(); }
    bool operator!=(const CursorIterator& other) const { return !(*this == other); }

private:
    bool ended() const { return !cursor_ || cursor_->atEnd(); }
    Cursor* cursor_ = nullptr;
};

// One telemetry entry as the API writes it; other members are passed over.
struct Entry {
    bool hasFrame = false;
    std::optional<std::string> frame;  // nothing: null, or not a string
    std::string observer;
    std::optional<std::string> timestamp;
};

// The parser's events: every object that has a "frame" member is one entry,
// wherever it stands (a page is an array of them). Only an object's own
// members count, not those of objects inside it.
class TelemetrySax {
public:
    using Json = nlohmann::json;
    // Deeper than any page of telemetry nests; input that does is not one.
    static constexpr std::size_t kMaxDepth = 64;

    explicit TelemetrySax(std::function<void(Entry&)> entry) : entry_(std::move(entry)) {}

    bool null() {
        if (auto* o = member())
            if (o->key == Key::Frame)
                o->entry.hasFrame = true;
        return value();
    }
    bool boolean(bool) { return scalar(); }
    bool number_integer(Json::number_integer_t) { return scalar(); }
    bool number_unsigned(Json::number_unsigned_t) { return scalar(); }
    bool number_float(Json::number_float_t, const Json::string_t&) { return scalar(); }
    bool binary(Json::binary_t&) { return scalar(); }
    bool string(Json::string_t& text) {
        if (auto* o = member()) {
            switch (o->key) {
            case Key::Frame: o->entry.frame = std::move(text); break;
            case Key::Observer: o->entry.observer = std::move(text); break;
            case Key::Timestamp: o->entry.timestamp = std::move(text); break;
            case Key::Detail:
                if (levels_.size() == 1)
                    detail = std::move(text);
                break;
            case Key::Other: break;
            }
        }
        return value();
    }
    bool start_object(std::size_t) {
        if (levels_.size() >= kMaxDepth)
            return tooDeep();
        levels_.emplace_back();
        levels_.back().object = true;
        return true;
    }
    bool key(Json::string_t& name) {
        Level& o = levels_.back();
        o.key = name == "frame"       ? Key::Frame
                : name == "observer"  ? Key::Observer
                : name == "timestamp" ? Key::Timestamp
                : name == "detail"    ? Key::Detail
                                      : Key::Other;
        if (o.key == Key::Frame)
            o.entry.hasFrame = true;
        return true;
    }
    bool end_object() {
        Level done = std::move(levels_.back());
        levels_.pop_back();
        if (done.entry.hasFrame)
            entry_(done.entry);
        return value();
    }
    bool start_array(std::size_t) {
        if (levels_.size() >= kMaxDepth)
            return tooDeep();
        levels_.emplace_back();
        return true;
    }
    bool end_array() {
        levels_.pop_back();
        return value();
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) {
        error = "not JSON at byte " + std::to_string(base + position) + ": " + what(e);
        return false;
    }

    std::uint64_t base = 0;  // where the value being parsed starts in the input
    std::string error;
    std::string detail;  // {"detail": "..."}: what the API says instead of an answer

private:
    enum class Key { Other, Frame, Observer, Timestamp, Detail };
    struct Level {
        bool object = false;
        Key key = Key::Other;
        Entry entry;
    };

    // The object a value just read belongs to, when it is a member of one.
    Level* member() { return !levels_.empty() && levels_.back().object ? &levels_.back() : nullptr; }
    bool value() {
        if (!levels_.empty())
            levels_.back().key = Key::Other;
        return true;
    }
    bool scalar() {
        if (auto* o = member())
            if (o->key == Key::Frame)
                o->entry.frame.reset();  // a frame that is no string
        return value();
    }
    bool tooDeep() {
        error = "nested deeper than " + std::to_string(kMaxDepth) + " levels: not SatNOGS DB telemetry";
        return false;
    }
    // The library's message without its "[json.exception.parse_error.101] " prefix.
    static std::string what(const nlohmann::detail::exception& e) {
        const std::string text = e.what();
        const std::size_t cut = text.find("] ");
        return cut == std::string::npos ? text : text.substr(cut + 2);
    }

    std::function<void(Entry&)> entry_;
    std::vector<Level> levels_;
};

}  // namespace

std::optional<PooledFormat> pooledFormatOf(std::string_view start) {
    if (start.starts_with("\xEF\xBB\xBF"))
        start.remove_prefix(3);
    const std::size_t first = start.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return std::nullopt;
    // JSON: an array of objects (or an empty one), or an object with a member;
    // a TNC's bytes rarely start so.
    if (start[first] == '[' || start[first] == '{') {
        const std::size_t second = start.find_first_not_of(kBlanks, first + 1);
        const std::string_view follows = start[first] == '[' ? "{]" : "\"}";
        if (second == std::string_view::npos || follows.find(start[second]) != std::string_view::npos)
            return PooledFormat::Json;
        return std::nullopt;
    }
    // An export line: a time, "|", hex digits.
    const std::string_view line = start.substr(first, start.find('\n', first) - first);
    const std::size_t bar = line.find('|');
    if (bar == std::string_view::npos || !parsePooledTime(line.substr(0, bar)))
        return std::nullopt;
    const std::string_view hex = trim(line.substr(bar + 1));
    if (hex.empty() || !std::all_of(hex.begin(), hex.end(), [](char c) { return hexDigitValue(c) >= 0; }))
        return std::nullopt;
    return PooledFormat::Export;
}

std::optional<std::int64_t> parsePooledTime(std::string_view text) {
    text = trim(text);
    unsigned y, mo, d, h, mi, s;
    if (text.size() < 19 || !digits(text, 0, 4, y) || text[4] != '-' || !digits(text, 5, 2, mo) || text[7] != '-' ||
        !digits(text, 8, 2, d) || (text[10] != 'T' && text[10] != ' ') || !digits(text, 11, 2, h) || text[13] != ':' ||
        !digits(text, 14, 2, mi) || text[16] != ':' || !digits(text, 17, 2, s))
        return std::nullopt;
    static constexpr unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    std::size_t at = 19;
    unsigned ms = 0;
    if (at < text.size() && text[at] == '.') {
        std::size_t n = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++n)
            if (n < 3)
                ms = ms * 10 + unsigned(text[at] - '0');
        if (n == 0)
            return std::nullopt;
        for (; n < 3; ++n)
            ms *= 10;
    }
    // The zone: none or Z is UTC; an offset is taken back out.
    std::int64_t offsetMinutes = 0;
    const std::string_view zone = text.substr(at);
    if (zone == "Z" || zone == "z" || zone.empty()) {
    } else if ((zone[0] == '+' || zone[0] == '-') && (zone.size() == 6 || zone.size() == 5)) {
        unsigned oh, om;
        const std::size_t minutesAt = zone.size() == 6 ? 4 : 3;
        if (!digits(zone, 1, 2, oh) || (zone.size() == 6 && zone[3] != ':') || !digits(zone, minutesAt, 2, om) ||
            oh > 23 || om > 59)
            return std::nullopt;
        offsetMinutes = (zone[0] == '-' ? -1 : 1) * std::int64_t(oh * 60 + om);
    } else {
        return std::nullopt;
    }
    const SystemTime t{std::uint16_t(y), std::uint16_t(mo), 0, std::uint16_t(d), std::uint16_t(h), std::uint16_t(mi),
                       std::uint16_t(s), std::uint16_t(ms)};
    return utcMilliseconds(t) - offsetMinutes * 60000;
}

// ---- Merging ------------------------------------------------------------------

struct BeaconMerger::Impl {
    struct Held {
        std::uint64_t serial;
        std::int64_t earliest, latest;
        MergedBeacon beacon;
    };
    std::int64_t window;
    std::function<void(MergedBeacon&&)> emit;
    std::deque<Held> held;         // in the order first heard
    std::uint64_t nextSerial = 0;  // of the next beacon held; held.front() has the lowest
    // The newest held beacon of each frame content, by serial.
    std::unordered_map<std::string, std::uint64_t> byFrame;

    static std::string frameKey(const RawFrame& raw) {
        return std::string(reinterpret_cast<const char*>(raw.data()), kBeaconFrameSize);
    }
    Held* find(std::uint64_t serial) {
        if (held.empty() || serial < held.front().serial)
            return nullptr;
        return &held[std::size_t(serial - held.front().serial)];
    }
    void emitFront() {
        Held& h = held.front();
        const auto it = byFrame.find(frameKey(h.beacon.raw));
        if (it != byFrame.end() && it->second == h.serial)
            byFrame.erase(it);
        MergedBeacon beacon = std::move(h.beacon);
        held.pop_front();
        emit(std::move(beacon));
    }
};

BeaconMerger::BeaconMerger(std::int64_t windowMs, std::function<void(MergedBeacon&&)> emit)
    : impl_(std::make_unique<Impl>()) {
    impl_->window = windowMs;
    impl_->emit = std::move(emit);
}

BeaconMerger::~BeaconMerger() = default;

void BeaconMerger::add(Reception&& r) {
    Impl& m = *impl_;
    const std::int64_t t = r.utcMs;
    std::string key = Impl::frameKey(r.raw);
    const auto it = m.byFrame.find(key);
    Impl::Held* same = it == m.byFrame.end() ? nullptr : m.find(it->second);
    if (same && t >= same->earliest - m.window && t <= same->latest + m.window) {
        MergedBeacon& b = same->beacon;
        if (std::find(b.observers.begin(), b.observers.end(), r.observer) == b.observers.end())
            b.observers.push_back(std::move(r.observer));
        ++b.receptions;
        same->earliest = std::min(same->earliest, t);
        same->latest = std::max(same->latest, t);
        b.utcMs = same->earliest;
    } else {
        MergedBeacon b;
        b.utcMs = t;
        b.observers.push_back(std::move(r.observer));
        b.receptions = 1;
        b.raw = r.raw;
        m.held.push_back({m.nextSerial, t, t, std::move(b)});
        m.byFrame[std::move(key)] = m.nextSerial++;
    }
    // Complete: the input has moved past the window on either side (it comes
    // newest first from the database, oldest first from other tools).
    while (!m.held.empty() &&
           (m.held.size() > kMaxHeld || t < m.held.front().earliest - m.window || t > m.held.front().latest + m.window))
        m.emitFront();
}

void BeaconMerger::finish() {
    while (!impl_->held.empty())
        impl_->emitFront();
}

std::size_t BeaconMerger::held() const { return impl_->held.size(); }

// ---- Decoding -------------------------------------------------------------------

namespace {

// Observers and the reception count as the tree's extra BeaconTextLog fields:
// no tab or line break inside a field.
std::string treeFields(const std::string& observers, std::uint32_t receptions) {
    std::string fields = "\t" + observers + "\t" + std::to_string(receptions);
    std::replace_if(
        fields.begin() + 1, fields.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return fields;
}

std::string joined(const std::vector<std::string>& observers) {
    std::string text;
    for (const auto& o : observers) {
        if (o.empty())
            continue;  // the export names nobody
        if (!text.empty())
            text += ';';
        for (char c : o)
            text += (c == '\t' || c == ';') ? ' ' : c;
    }
    return text;
}

}  // namespace

struct PooledDecoding::Impl {
    // An entry as read, held until its page is whole.
    struct Read {
        std::optional<std::string> frame;
        std::string observer;
        std::optional<std::int64_t> utcMs;
    };

    PooledSinks sinks;
    PooledSummary summary;
    std::string detail;
    std::vector<Read> pending;
    // The last entries decoded (observer, time, frame bytes): each key once,
    // in the set; the queue points at them, oldest first (a set's elements
    // stay where they are).
    std::unordered_set<std::string> recentKeys;
    std::deque<const std::string*> recent;
    FrameFinder finder;
    std::string bytes;  // scratch: the frame being decoded
    ReceiveClock clock{SystemTime{}};
    std::optional<Archive> archive;
    bool treeEnded = false;
    BeaconMerger merger;

    explicit Impl(PooledSinks s)
        : sinks(std::move(s)), merger(sinks.mergeWindowMs, [this](MergedBeacon&& b) { row(std::move(b)); }) {}

    void entry(std::string_view frame, std::string_view observer, const std::optional<std::int64_t>& utcMs) {
        if (!utcMs || !unhex(trim(frame), bytes)) {
            ++summary.frames;
            ++summary.unreadable;
            return;
        }
        observer = trim(observer);
        if (duplicate(observer, *utcMs)) {
            ++summary.duplicates;
            return;
        }
        ++summary.frames;
        if (bytes.size() < kBeaconFrameSize) {
            ++summary.notBeacons;
            return;
        }
        const auto& found =
            finder.analyseRecordedBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()).frames;
        finder.aRXBufferInitExecute();  // no frame reaches into the next
        if (found.empty()) {
            ++summary.notBeacons;
            return;
        }
        for (const auto& located : found) {
            ++summary.beacons;
            Reception r;
            r.utcMs = *utcMs;
            r.observer = std::string(observer);
            r.raw = located.frame.raw;
            merger.add(std::move(r));
        }
    }

    // Whether this entry (its bytes in `bytes`) was among the last ones; it is
    // one of them from now on.
    bool duplicate(std::string_view observer, std::int64_t utcMs) {
        std::string key(observer);
        key.push_back('\0');
        key.append(reinterpret_cast<const char*>(&utcMs), sizeof utcMs);
        key += bytes;
        const auto [at, added] = recentKeys.insert(std::move(key));
        if (!added)
            return true;
        recent.push_back(&*at);
        if (recent.size() > kRecentEntries) {
            recentKeys.erase(recentKeys.find(*recent.front()));
            recent.pop_front();
        }
        return false;
    }

    void flush() {
        for (Read& r : pending)
            entry(r.frame ? std::string_view(*r.frame) : std::string_view(), r.observer, r.utcMs);
        pending.clear();
    }

    void row(MergedBeacon&& b) {
        ++summary.rows;
        const BeaconRecord record = BeaconRecord::fromBytes(b.raw.data() + kFrameRecordOffset);
        BeaconLogEntry e = beaconLogEntry(record, utcFromMilliseconds(b.utcMs));
        e.observers = joined(b.observers);
        e.receptions = b.receptions;
        if (sinks.beacon)
            sinks.beacon(e);
        if (sinks.outDir.empty() || treeEnded)
            return;
        clock.set(e.utc);
        try {
            if (!archive) {
                // The BeaconTextLog takes its name from the first beacon stored.
                archive.emplace(systemFileSystem(), clock);
                archive->openBeaconFiles(sinks.outDir);
                archive->setExtraColumns("\tObservers\tReceptions");
            }
            archive->setExtraFields(treeFields(e.observers, e.receptions));
            archive->aSaveTempFileExecute(record, e.utc);
            archive->aSaveBinFileExecute(b.raw, e.utc);
        } catch (const EInOutError& error) {
            summary.treeFailure = error.what();
            treeEnded = true;
            const std::string log = archive->BeaconTextLogPath();
            archive.reset();
            cutBackToWholeLines(log);
        }
    }

    // `eachValue`: each JSON value (a saved page) counts once it is whole;
    // otherwise only the whole input does (a fetched page with anything after
    // its value is broken).
    void json(Source& source, bool eachValue) {
        Cursor cursor(source);
        TelemetrySax sax([this](Entry& e) {
            const auto utcMs = e.frame && e.timestamp ? parsePooledTime(*e.timestamp) : std::nullopt;
            pending.push_back({std::move(e.frame), std::move(e.observer), utcMs});
        });
        // One value after another: several saved pages may follow each other.
        while (cursor.skipBlanks()) {
            sax.base = cursor.offset();
            if (!nlohmann::json::sax_parse(CursorIterator(cursor), CursorIterator(), &sax,
                                           nlohmann::json::input_format_t::json, false)) {
                summary.bytes += cursor.offset();
                pending.clear();
                throw std::runtime_error(sax.error.empty() ? "not JSON" : sax.error);
            }
            if (eachValue)
                flush();
        }
        flush();
        summary.bytes += cursor.offset();
        if (!sax.detail.empty())
            detail = sax.detail;
    }

    void exportLines(Source& source) {
        // A line longer than any frame's is not one: it is counted and passed
        // over without being held whole.
        constexpr std::size_t kLongestLine = 64 * 1024;
        std::string partial;
        bool overlong = false;
        const auto line = [this, &overlong](std::string_view text) {
            if (std::exchange(overlong, false)) {
                ++summary.frames;
                ++summary.unreadable;
                return;
            }
            text = trim(text);
            if (text.empty())
                return;
            const std::size_t bar = text.find('|');
            if (bar == std::string_view::npos) {
                ++summary.frames;
                ++summary.unreadable;
                return;
            }
            entry(text.substr(bar + 1), {}, parsePooledTime(text.substr(0, bar)));
        };
        for (std::string_view block = source.next(); !block.empty(); block = source.next()) {
            summary.bytes += block.size();
            for (std::size_t nl; (nl = block.find('\n')) != std::string_view::npos; block.remove_prefix(nl + 1)) {
                if (partial.empty() && !overlong) {
                    line(block.substr(0, nl));
                } else {
                    if (!overlong)
                        partial.append(block.substr(0, nl));
                    line(partial);
                    partial.clear();
                }
            }
            if (!overlong && partial.size() + block.size() <= kLongestLine)
                partial.append(block);
            else
                overlong = true;
        }
        line(partial);
    }
};

PooledDecoding::PooledDecoding(PooledSinks sinks) : impl_(std::make_unique<Impl>(std::move(sinks))) {}

PooledDecoding::~PooledDecoding() = default;

void PooledDecoding::readFile(const std::string& path, PooledFormat format,
                              const std::function<void(std::uint64_t)>& progress) {
    FileSource source(path, progress);
    if (format == PooledFormat::Json)
        impl_->json(source, true);
    else
        impl_->exportLines(source);
}

void PooledDecoding::readJson(std::string_view text) {
    MemorySource source(text);
    impl_->json(source, false);
}

void PooledDecoding::readExport(std::string_view text) {
    MemorySource source(text);
    impl_->exportLines(source);
}

const std::string& PooledDecoding::detail() const { return impl_->detail; }

void PooledDecoding::finish() {
    impl_->merger.finish();
    impl_->archive.reset();
}

const PooledSummary& PooledDecoding::summary() const { return impl_->summary; }

}  // namespace kestrel::redecode
