// kestrel-redecode's work: a RawByteLog through the program's own receive path
// into a fresh archive, and decoded beacons as CSV rows.
//
// In order: stamps read from file names; the CSV's number and time forms; the
// store that archives what the frame finder finds in a replayed log; the time
// index read beside the log (TimeIndexFile); the CSV header and row;
// redecodeRawByteLog and the other entry points.

#include "redecode/Redecode.h"
#include "redecode/TreeParts.h"

#include "kiss/KissDeframer.h"

#include "telemetry/Archive.h"
#include "telemetry/FileSystem.h"
#include "telemetry/FrameFinder.h"
#include "telemetry/InOutError.h"
#include "telemetry/TextFormat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kestrel::redecode {
namespace {

// Reads "digits" of exactly `width` characters at text[at].
bool digitsAt(std::string_view text, std::size_t at, std::size_t width, std::uint16_t& out) {
    if (at + width > text.size())
        return false;
    unsigned v = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
    }
    out = static_cast<std::uint16_t>(v);
    return true;
}

// `prefix` and a number without a leading zero at the start of rest: takes them off.
bool takeNumbered(std::string_view& rest, std::string_view prefix) {
    if (!rest.starts_with(prefix) || rest.size() <= prefix.size() || rest[prefix.size()] < '1' ||
        rest[prefix.size()] > '9')
        return false;
    std::size_t end = prefix.size();
    while (end < rest.size() && rest[end] >= '0' && rest[end] <= '9')
        ++end;
    rest.remove_prefix(end);
    return true;
}

// "_N" (a name taken twice) or nothing, "_partN" (a later piece of a run) or
// nothing, then `extension`, to the end.
bool suffixThenExtension(std::string_view rest, std::string_view extension) {
    takeNumbered(rest, "_");
    takeNumbered(rest, "_part");
    return rest == extension;
}

constexpr std::string_view kPieceMark = "_part";

// The stamp "YYYY_MM_DD_HHMMSS" at name[at]; its fields are checked for range.
std::optional<SystemTime> stampAt(std::string_view name, std::size_t at) {
    SystemTime t;
    const bool ok = digitsAt(name, at, 4, t.year) && name.size() > at + 16 && name[at + 4] == '_' &&
                    digitsAt(name, at + 5, 2, t.month) && name[at + 7] == '_' && digitsAt(name, at + 8, 2, t.day) &&
                    name[at + 10] == '_' && digitsAt(name, at + 11, 2, t.hour) &&
                    digitsAt(name, at + 13, 2, t.minute) && digitsAt(name, at + 15, 2, t.second);
    if (!ok || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return std::nullopt;
    return t;
}

std::optional<SystemTime> stampedName(std::string_view name, std::string_view prefix, std::string_view extension) {
    constexpr std::size_t kStampSize = 17;
    constexpr std::string_view kUtc = "_UTC";
    if (!name.starts_with(prefix) || name.size() < prefix.size() + kStampSize + kUtc.size())
        return std::nullopt;
    const std::size_t utcAt = prefix.size() + kStampSize;
    if (name.substr(utcAt, kUtc.size()) != kUtc || !suffixThenExtension(name.substr(utcAt + kUtc.size()), extension))
        return std::nullopt;
    return stampAt(name, prefix.size());
}

std::string number(std::uint64_t v) { return std::to_string(v); }
std::string number(std::int64_t v) { return std::to_string(v); }

// Shortest text that reads back to the same value; C locale always.
// Non-finite values in the spelling CSV readers take: nan, inf, -inf.
template <typename T>
std::string number(T v) {
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v < 0 ? "-inf" : "inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

// Text as one CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// To the millisecond: beacons timed from a time index carry them.
std::string isoUtc(const SystemTime& t) {
    return formatDate(t) + "T" + formatTime(t) + "." + formatUnsigned(t.millisecond, 3) + "Z";
}

// Why `folder` cannot be made, with the first folder on the way that could
// not and the system's reason; empty when it is there or could be made.
std::string folderProblem(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = folder; !p.empty() && !fs::is_directory(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (!fs::create_directory(*it, ec) && ec)
            return "cannot make the folder " + utf8Of(*it) + ": " + ec.message();
    return {};
}

// Where a found beacon goes: to the sink, then the archive's two steps. The
// first failure of the tree ends the tree; the sink still gets every beacon.
class Store {
public:
    Store(Archive* archive, const Sinks& sinks) : archive_(archive), sinks_(sinks) {}
    void store(const FoundFrame& frame, const SystemTime& utc) {
        ++beacons;
        if (sinks_.beacon)
            sinks_.beacon(beaconLogEntry(frame.record, utc));
        if (tree([&] { archive_->aSaveTempFileExecute(frame.record, utc); }, "Decoded"))
            ++lines;
        tree([&] { archive_->aSaveBinFileExecute(frame.raw, utc); }, "raw_data");
    }
    std::uint64_t beacons = 0;  // the decoder's own count is a wrapping 32-bit one
    std::uint64_t lines = 0;
    std::string failure;

private:
    template <class F>
    bool tree(F&& step, const char* folder) {
        if (!archive_)
            return false;
        try {
            step();
            return true;
        } catch (const EInOutError& e) {
            // A folder the archive could not make shows only as a file not
            // found in it: the folder and the system's reason are said instead.
            failure = folderProblem(pathFromUtf8(sinks_.outDir) / "Telemetry" / folder);
            if (failure.empty())
                failure = e.what();
            archive_ = nullptr;
            return false;
        }
    }

    Archive* archive_;
    const Sinks& sinks_;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void cutBackToWholeLines(const std::string& utf8Path) {
    namespace fs = std::filesystem;
    const fs::path path = pathFromUtf8(utf8Path);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return;
    std::string text;
    if (!readWholeFile(utf8Path, text))
        return;
    const std::size_t end = text.rfind("\r\n");
    const std::size_t keep = end == std::string::npos ? 0 : end + 2;
    // The header: its first line, an empty line, the title line (which may
    // carry extra column titles), an empty line.
    const std::size_t firstGap = text.find("\r\n\r\n");
    const std::size_t titleEnd = firstGap == std::string::npos ? firstGap : text.find("\r\n\r\n", firstGap + 4);
    const std::size_t headerSize = titleEnd == std::string::npos ? text.size() : titleEnd + 4;
    if (keep <= headerSize)
        fs::remove(path, ec);
    else if (keep < text.size())
        fs::resize_file(path, keep, ec);
}

TimeIndexFile::TimeIndexFile(std::vector<LogPiece> pieces) : pieces_(std::move(pieces)) {
    if (pieces_.empty())
        return;
    path_ = timeIndexPath(pieces_[0].path);
    open();
}

void TimeIndexFile::open() {
    namespace fs = std::filesystem;
    const std::string path = timeIndexPath(pieces_[piece_].path);
    const std::uint64_t logSize = pieces_[piece_].size;
    const auto refuse = [&](const std::string& why) {
        if (refusal_.empty())
            refusal_ = "its time index " + path + " " + why;
        else
            refusal_ += "; " + path + " " + why;
    };
    std::error_code ec;
    const fs::file_status st = fs::status(pathFromUtf8(path), ec);
    // A name too long for an index cannot have one.
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::filename_too_long) {
        // A link loop, a folder that may not be looked into: there is something.
        present_ = present_ || piece_ == 0;
        refuse("cannot be read: " + ec.message());
        return;
    }
    if (!fs::exists(st))
        return;
    present_ = present_ || piece_ == 0;
    if (!fs::is_regular_file(st)) {
        // A FIFO would never end, a device never stop.
        refuse("is not a regular file");
        return;
    }
    const std::uint64_t size = fs::file_size(pathFromUtf8(path), ec);
    const std::uint64_t most = kTimeIndexHeader.size() + kMostBytesPerLogByte * (logSize + 1);
    if (ec) {
        refuse("cannot be read: " + ec.message());
    } else if (size > most) {
        refuse("holds " + std::to_string(size) + " bytes, more than any index of this log could (" +
               std::to_string(most) + ")");
    } else if (!(file_ = openFile(path, "rb"))) {
        refuse("cannot be read: " + errnoWords(errno));
    }
}

TimeIndexFile::~TimeIndexFile() {
    if (file_)
        std::fclose(file_);
}

bool TimeIndexFile::fill() {
    for (;;) {
        if (file_ && !ended_) {
            char block[64 * 1024];
            const std::size_t n = std::fread(block, 1, sizeof block, file_);
            const auto keep = [this](TimeIndexEntry e) {
                e.offset += base_;
                ready_.push_back(e);
            };
            if (n > 0) {
                read_ += n;
                reader_.feed(std::string_view(block, n), keep);
                return true;
            }
            if (std::ferror(file_) && readError_.empty())
                readError_ = errnoWords(errno);
            reader_.finish();
            ended_ = true;
        }
        // The next piece's index, if any.
        if (piece_ + 1 >= pieces_.size())
            return false;
        if (piece_ == 0)
            firstRecognised_ = file_ && reader_.recognised();
        if (file_)
            std::fclose(std::exchange(file_, nullptr));
        base_ += pieces_[piece_].size;
        ++piece_;
        dropped_ += reader_.dropped();
        reader_ = TimeIndexReader();
        ended_ = false;
        open();
    }
}

bool TimeIndexFile::recognised() {
    // The first piece's header; a look that must not run on into the next.
    while (piece_ == 0 && file_ && !ended_ && read_ < kTimeIndexHeader.size() && fill()) {
    }
    return piece_ == 0 ? file_ && reader_.recognised() : firstRecognised_;
}

bool TimeIndexFile::next(TimeIndexEntry& entry) {
    while (ready_.empty())
        if (!fill())
            return false;
    entry = ready_.front();
    ready_.pop_front();
    return true;
}

void TimeIndexFile::readToEnd() {
    while (fill())
        ready_.clear();  // only counted now
    ready_.clear();
}

std::optional<SystemTime> rawByteLogStamp(std::string_view fileName) {
    return stampedName(fileName, "log_raw_", ".KR7");
}

bool isLaterPiece(std::string_view fileName) {
    const std::string_view stem = fileName.substr(0, fileName.rfind('.'));
    const auto mark = stem.rfind(kPieceMark);
    if (mark == std::string_view::npos)
        return false;
    std::string_view rest = stem.substr(mark);
    return takeNumbered(rest, kPieceMark) && rest.empty() && stem.substr(mark + kPieceMark.size()) != "1";
}

std::vector<std::string> runPieces(const std::string& firstPiece) {
    namespace fs = std::filesystem;
    std::vector<std::string> pieces{firstPiece};
    for (int part = 2;; ++part) {
        const std::string piece = logPiecePath(firstPiece, part);
        std::error_code ec;
        if (!fs::is_regular_file(pathFromUtf8(piece), ec))
            return pieces;
        pieces.push_back(piece);
    }
}

bool hasBeaconTextLogName(std::string_view fileName) {
    return stampedName(fileName, "KR7_beacon_", ".txt").has_value();
}

std::string csvHeader() {
    std::string h =
        "ReceiveTime (UTC),FlightTime [s],Vbat [mV],Iin [mA],Isys [mA],Bx [uT],By [uT],Bz [uT],"
        "Latitude [deg],Longitude [deg],Altitude,Velocity,GpsOn,Tcpu [C],Tpsu [C],ToutMin [C],ToutMax [C],"
        "TransponderTime [s],TransponderOn";
    for (std::size_t i = 1; i <= kIsunCount; ++i)
        h += ",Isun" + std::to_string(i) + " [mA]";
    for (std::size_t i = 1; i <= kFotoCount; ++i)
        h += ",Foto" + std::to_string(i);
    return h + ",StatusBytes (hex),Boots,LastBootCause,Observers,Receptions\n";
}

std::string csvRow(const BeaconLogEntry& e) {
    std::string row = isoUtc(e.utc);
    row.reserve(256);
    const auto add = [&row](const std::string& text) {
        row += ',';
        row += text;
    };
    add(number(std::uint64_t{e.flightTime}));
    add(number(std::uint64_t{e.vbat}));
    add(number(std::uint64_t{e.iin}));
    add(number(std::uint64_t{e.isys}));
    add(number(e.bx));
    add(number(e.by));
    add(number(e.bz));
    add(number(e.latitude));
    add(number(e.longitude));
    add(number(e.altitude));
    add(number(e.velocity));
    add(number(std::uint64_t{e.gpsOn}));
    add(number(e.tcpu));
    add(number(std::int64_t{e.tpsu}));
    add(number(std::int64_t{e.toutMin}));
    add(number(std::int64_t{e.toutMax}));
    add(number(std::uint64_t{e.transponderTime}));
    add(number(std::uint64_t{e.transponderOn}));
    for (auto v : e.isun)
        add(number(std::uint64_t{v}));
    for (auto v : e.foto)
        add(number(std::uint64_t{v}));
    std::string status = "0x";
    for (auto b : e.statusBytes)
        status += formatHex2(b);
    add(status);
    // A BeaconTextLog line has no boot fields; only pooled beacons have stations.
    add(e.boots ? number(std::int64_t{*e.boots}) : "");
    add(e.lastBootCause ? number(std::uint64_t{*e.lastBootCause}) : "");
    add(csvField(e.observers));
    add(e.receptions ? number(std::uint64_t{e.receptions}) : "");
    return row + "\n";
}

Summary redecodeRawByteLog(const std::string& path, const SystemTime& stamp, const Sinks& sinks) {
    return redecodeRawByteLog(std::vector<std::string>{path}, stamp, sinks);
}

Summary redecodeRawByteLog(const std::vector<std::string>& pieces, const SystemTime& stamp, const Sinks& sinks) {
    // Every piece opens before anything is decoded: a run is read whole or not at all.
    std::vector<std::unique_ptr<std::FILE, FileCloser>> files;
    for (const std::string& piece : pieces) {
        files.emplace_back(openFile(piece, "rb"));
        if (!files.back())
            throw std::runtime_error(pieces.size() > 1 ? piece + ": " + errnoWords(errno) : errnoWords(errno));
    }

    ReceiveClock clock(stamp);
    std::optional<Archive> archive;
    if (!sinks.outDir.empty()) {
        archive.emplace(systemFileSystem(), clock);
        archive->openBeaconFiles(sinks.outDir);
    }
    Store store(archive ? &*archive : nullptr, sinks);
    FrameFinder finder;

    Summary summary;
    std::uint64_t markers = 0;
    std::vector<std::uint8_t> block(1 << 20);
    KissDeframer deframer;
    summary.kiss = sinks.framing == Framing::Kiss;
    const auto analyse = [&](const std::uint8_t* bytes, std::size_t n) {
        const FrameFinder::RecordedFrames& found = finder.analyseRecordedBytes(bytes, n);
        markers += found.markers;
        for (const auto& located : found.frames)
            store.store(located.frame, clock.utcNow());
    };
    const auto feed = [&](const std::uint8_t* bytes, std::size_t n) {
        if (summary.kiss) {
            deframer.Feed(std::string_view(reinterpret_cast<const char*>(bytes), n), [&](std::string_view f) {
                analyse(reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
            });
        } else {
            analyse(bytes, n);
        }
    };
    // The bytes go on in pieces that end where the next index entry starts, so
    // a beacon takes the time of the chunk its last byte came with.
    auto listed = sinks.times.begin();
    const std::function<bool(TimeIndexEntry&)> pull = sinks.nextTime ? sinks.nextTime : [&](TimeIndexEntry& e) {
        if (listed == sinks.times.end())
            return false;
        e = *listed++;
        return true;
    };
    TimeIndexEntry nextEntry{};
    bool haveNext = pull(nextEntry);
    std::string readFailure;
    for (std::size_t piece = 0; piece < files.size();) {
        std::FILE* in = files[piece].get();
        const std::size_t n = std::fread(block.data(), 1, block.size(), in);
        if (n == 0) {
            if (std::ferror(in)) {
                readFailure = pieces.size() > 1 ? pieces[piece] + ": " + errnoWords(errno) : errnoWords(errno);
                break;
            }
            ++piece;
            continue;
        }
        if (summary.bytes == 0 && sinks.framing == Framing::Auto)
            summary.kiss = LooksLikeKissStream(
                std::string_view(reinterpret_cast<const char*>(block.data()), std::min<std::size_t>(n, 64 * 1024)));
        std::size_t done = 0;
        while (done < n) {
            const std::uint64_t at = summary.bytes + done;
            for (; haveNext && nextEntry.offset <= at; haveNext = pull(nextEntry))
                clock.set(utcFromMilliseconds(nextEntry.utcMs));
            const std::uint64_t until = !haveNext ? summary.bytes + n : std::min(summary.bytes + n, nextEntry.offset);
            feed(block.data() + done, static_cast<std::size_t>(until - at));
            done += static_cast<std::size_t>(until - at);
        }
        summary.bytes += n;
        if (sinks.progress)
            sinks.progress(summary.bytes);
    }
    if (!store.failure.empty()) {
        summary.treeFailure = store.failure;
        cutBackToWholeLines(archive->BeaconTextLogPath());
    }
    if (!readFailure.empty())
        throw std::runtime_error(readFailure);
    deframer.Finish();
    const KissCounters& k = deframer.Counters();
    summary.kissFrames = k.frames;
    summary.kissDropped = k.otherPort + k.otherCommand + k.damaged();
    summary.beacons = store.beacons;
    summary.treeBeacons = store.lines;
    summary.rejected = markers > store.beacons ? markers - store.beacons : 0;
    return summary;
}

}  // namespace kestrel::redecode
