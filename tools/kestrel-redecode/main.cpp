// kestrel-redecode: decodes recorded RawByteLogs again into a fresh archive
// tree, and exports beacons as CSV from RawByteLogs or BeaconTextLogs; reads the
// frames every station sent to SatNOGS DB, saved or fetched, the same ways.
//
// In order: the usage text; the command line; where the output goes (names
// that are free and fit) and what kind of file each input is; the time a
// log's beacons get, from its index or without one; the progress line and the
// CSV writer; main (every file-system failure said), then run, file by file.

#include "redecode/Pooled.h"
#include "redecode/PooledFetch.h"
#include "redecode/Redecode.h"

#include "share/HttpTransport.h"
#include "station/CommandLine.h"
#include "telemetry/BeaconTextLogReader.h"
#include "telemetry/InOutError.h"
#include "telemetry/TextFormat.h"
#include "telemetry/TimeIndex.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define KESTREL_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define KESTREL_ISATTY(f) isatty(fileno(f))
#endif

#ifdef __MINGW32__
// cmd.exe hands a wildcard such as Decoded\KR7_beacon_*.txt over as typed;
// the runtime expands it, as a Unix shell does.
extern "C" {
int _dowildcard = -1;
}
#endif

using namespace kestrel;
using namespace kestrel::redecode;
namespace fs = std::filesystem;

namespace {

const char* const kUsage = R"(Usage: kestrel-redecode [options] FILE...
       kestrel-redecode --satnogs NORAD [--token TOKEN] [options] [FILE...]

Decodes KESTREL beacons again from recorded files. Each FILE may be
  - a RawByteLog (Telemetry/raw_log/log_raw_<UTC start>_UTC.KR7), or any other
    recording of a TNC's bytes under any name (a renamed copy, a capture from
    another recorder): its bytes go through the decoder's own frame finder,
    decoder and archive, which write a fresh Telemetry/ tree: Decoded/ with the
    run's BeaconTextLog and raw_data/ with one RawFrameFile per beacon (no
    RawByteLog);
  - with --csv, also a BeaconTextLog (Telemetry/Decoded/KR7_beacon_*.txt);
  - the frames every station sent to SatNOGS DB: a saved page of its telemetry
    API's JSON (several pages may follow one another in a file, or come as
    files of their own, in the order fetched), or the data export of its web
    pages (lines of "timestamp|frame_hex").

Frames from SatNOGS DB take the database's time and its observer. The same
beacon heard by several stations (the same frame bytes, times within
--merge-seconds of one another) becomes one row that lists every observer
(";" between them) and the earliest time; the CSV's last column, and the
tree's BeaconTextLog's, counts the frames merged into it. Frames that hold no
KESTREL beacon, and entries without a frame or a time, are counted and
skipped. All SatNOGS DB inputs together make one tree (one BeaconTextLog).

Receive times, in this order of preference:
  1. the time index beside the log (the same name with .tidx appended, which
     the program writes while it receives): each beacon gets the time the
     chunk holding its last byte was read (known to 0.1 s), to the second in
     the BeaconTextLog and RawFrameFile names, to the millisecond in CSV;
  2. without an index, the run's start time from a log_raw_<UTC start> name;
  3. without either, --start, or else the file's modification time.
Without an index every beacon of a file carries that one time (its
RawFrameFiles then take the suffixes _2, _3, ...). The summary names the
source each file used.

Options:
  --out DIR    write the Telemetry/ tree below DIR. DIR must not be an input's
               own folder, lie inside a Telemetry folder, nor hold a Telemetry
               folder already: the tool never writes into an archive.
               Default: a new folder <name>_redecoded beside the Telemetry
               folder that holds the input, or beside the input when it is not
               in an archive.
  --csv FILE   write one row per beacon to FILE ("-": standard output), with a
               header row naming each field and, where it has one, its unit
               (Altitude, Velocity, Foto and the flags have none), the receive
               time in ISO 8601 UTC to the millisecond, numbers with a "." and
               nan, inf, -inf. With --csv no Telemetry/ tree is written unless
               --out is given as well.
  --start "YYYY-MM-DD HH:MM:SS"
               the UTC start of recordings that have neither a time index nor
               a stamp in their name
  --kiss       the RawByteLogs hold a KISS stream (a software TNC's, or a TNC
               in KISS mode): de-frame them first and decode the contents of
               port 0's data frames, as the program does live
  --no-kiss    they hold a plain TNC's bytes. Default: a log that begins with
               a FEND byte (0xC0) and whose start is mostly FEND-delimited
               frames is taken as KISS
  --satnogs NORAD
               fetch the satellite's frames from SatNOGS DB's telemetry API
               over HTTPS, page after page along the Link headers, and decode
               them as if saved (before any FILE). Progress goes to standard
               error. A 429 answer is waited out as its Retry-After asks (up to
               10 minutes); a server error or a broken connection is tried
               again four times, 2 to 16 s apart. Without --out and --csv the
               tree goes to a new folder satnogs_<NORAD>_redecoded here.
  --token TOKEN
               the SatNOGS DB API token (your profile page on db.satnogs.org),
               sent with each request. Default: the environment variable
               SATNOGS_TOKEN (which, unlike an argument, other users of the
               machine cannot see)
  --satnogs-url URL
               the telemetry endpoint (default
               https://db.satnogs.org/api/telemetry/)
  --ca-file FILE
               trust the certificates in FILE (PEM) besides the system's, for
               a server with its own authority (Linux; on Windows add the
               authority to the system's store)
  --merge-seconds N
               how far apart (seconds, 0 to 3600) the times of copies of one
               beacon may be to merge into one row (default 5)
  --quiet      no progress display
  -h, --help   show this help
  --version    show the version

Prints a summary per file: bytes, beacons, frames rejected (trailer markers
that did not end a beacon: damaged frames, lone markers) and the time source;
for a KISS stream also its data frames and the frames dropped (other ports,
commands, broken). A file that cannot be read is reported and skipped, with
the system's reason; so is a time index that is not a regular file or is
larger than any index of its log could be (the log then takes the next
source of times). Output
that could not be written whole never looks complete: a CSV is removed, a tree
is reported "incomplete" with its BeaconTextLog ending at its last whole line,
and the reason is given (Disk full, File access denied). The exit status is
then 1 (2 for wrong usage).
)";

[[noreturn]] void usageError(const std::string& msg) {
    std::fprintf(stderr, "kestrel-redecode: %s\nUsage: kestrel-redecode [options] FILE...  (see --help)\n",
                 msg.c_str());
    std::exit(2);
}

struct Options {
    std::string outDir;
    std::string csvPath;
    bool quiet = false;
    std::optional<SystemTime> start;
    Framing framing = Framing::Auto;
    std::vector<std::string> files;
    std::optional<long> satnogs;  // the NORAD ID to fetch
    std::string token;
    std::string satnogsUrl = kSatnogsTelemetryUrl;
    std::string caFile;
    std::int64_t mergeMs = 5000;
};

// A whole number from first to last; nothing otherwise.
std::optional<long> wholeNumber(const std::string& text, long first, long last) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long v = std::stol(text);
    if (v < first || v > last)
        return std::nullopt;
    return v;
}

// "YYYY-MM-DD HH:MM:SS" (or with a T between), UTC.
std::optional<SystemTime> parseStart(const std::string& text) {
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

Options parse(int argc, char** argv) {
    Options o;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
            o.files.push_back(a);
            continue;
        }
        if (a == "--")
            optionsDone = true;
        else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::fputs(VersionText("kestrel-redecode").c_str(), stdout);
            std::exit(0);
        } else if (a == "--quiet")
            o.quiet = true;
        else if (a == "--kiss")
            o.framing = Framing::Kiss;
        else if (a == "--no-kiss")
            o.framing = Framing::Plain;
        else if (a == "--start") {
            if (i + 1 >= argc)
                usageError(a + " needs a value");
            o.start = parseStart(argv[++i]);
            if (!o.start)
                usageError(std::string("--start ") + argv[i] + ": not a UTC time \"YYYY-MM-DD HH:MM:SS\"");
        } else if (a == "--out" || a == "--csv" || a == "--token" || a == "--satnogs-url" || a == "--ca-file") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                usageError(a + " needs a value");
            (a == "--out"           ? o.outDir
             : a == "--csv"         ? o.csvPath
             : a == "--token"       ? o.token
             : a == "--satnogs-url" ? o.satnogsUrl
                                    : o.caFile) = argv[++i];
        } else if (a == "--satnogs" || a == "--merge-seconds") {
            if (i + 1 >= argc)
                usageError(a + " needs a value");
            const std::string v = argv[++i];
            if (a == "--satnogs") {
                o.satnogs = wholeNumber(v, 1, 999999999);
                if (!o.satnogs)
                    usageError("--satnogs " + v + ": not a NORAD ID (a positive whole number)");
            } else {
                const auto seconds = wholeNumber(v, 0, 3600);
                if (!seconds)
                    usageError("--merge-seconds " + v + ": not a whole number of seconds from 0 to 3600");
                o.mergeMs = *seconds * 1000;
            }
        } else
            usageError("unknown option " + a);
    }
    if (o.files.empty() && !o.satnogs)
        usageError("no input file");
    if (!o.satnogsUrl.starts_with("https://") && !o.satnogsUrl.starts_with("http://"))
        usageError("--satnogs-url " + o.satnogsUrl + ": not an http:// or https:// address");
    if (o.token.empty())
        if (const char* env = std::getenv("SATNOGS_TOKEN"))
            o.token = env;
    return o;
}

bool samePath(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

fs::path folderOf(const fs::path& file) {
    fs::path parent = fs::absolute(file).parent_path();
    return parent.empty() ? fs::current_path() : parent;
}

// The Telemetry folder a path lies in, if any.
std::optional<fs::path> enclosingArchive(const fs::path& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path), ec);
    if (ec)
        p = fs::absolute(path);
    for (; !p.empty() && p != p.root_path(); p = p.parent_path())
        if (p.filename() == "Telemetry")
            return p;
    return std::nullopt;
}

// A file-system failure with the path it concerns and the system's reason.
class PathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string pathError(const fs::path& path, const std::error_code& ec) { return path.string() + ": " + ec.message(); }

// Whether anything, even a dangling or looping link, has this name. Throws
// PathError when that cannot be told (a name too long, a folder that may not
// be looked into).
bool nameTaken(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw PathError(pathError(path, ec));
    return fs::exists(st);
}

// A name of at most `most` bytes: longer ones are cut, never inside a UTF-8
// character.
std::string cutName(std::string name, std::size_t most) {
    if (name.size() <= most)
        return name;
    std::size_t end = most;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    name.resize(end);
    return name;
}

// A folder name that is free: `base`, else base_2, base_3, ...
fs::path freeFolder(const fs::path& base) {
    fs::path candidate = base;
    for (int n = 2; nameTaken(candidate); ++n)
        candidate = base.string() + "_" + std::to_string(n);
    return candidate;
}

// A new folder beside the archive that holds the input, or beside the input:
// never inside Telemetry/, the folder the operator sends on as it is. A long
// input name is cut so that the folder's name stays within the 255 bytes
// file systems take.
fs::path defaultOutDir(const fs::path& input) {
    const auto archive = enclosingArchive(folderOf(input));
    const std::string name = cutName(input.stem().string(), 200) + "_redecoded";
    return freeFolder((archive ? archive->parent_path() : folderOf(input)) / name);
}

enum class Kind { RawBytes, BeaconTextLog, TimeIndex, PooledJson, PooledExport };

Kind kindOf(const fs::path& file) {
    const std::string name = file.filename().string();
    if (rawByteLogStamp(name))
        return Kind::RawBytes;
    if (hasBeaconTextLogName(name))
        return Kind::BeaconTextLog;
    // A renamed BeaconTextLog still starts with its header, an index with its
    // own; SatNOGS DB's answers start as JSON or an export line does.
    char start[256] = {};
    std::size_t n = 0;
    if (std::FILE* f = std::fopen(file.string().c_str(), "rb")) {
        n = std::fread(start, 1, sizeof start, f);
        std::fclose(f);
    }
    const std::string_view head(start, n);
    if (looksLikeBeaconTextLog(head))
        return Kind::BeaconTextLog;
    if (looksLikeTimeIndex(head))
        return Kind::TimeIndex;
    if (const auto pooled = pooledFormatOf(head))
        return *pooled == PooledFormat::Json ? Kind::PooledJson : Kind::PooledExport;
    return Kind::RawBytes;
}

SystemTime modificationTime(const fs::path& file) {
    const auto t = fs::last_write_time(file);
    const auto sys = std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::file_clock::to_sys(t));
    return utcFromMilliseconds(sys.time_since_epoch().count());
}

// Where a recording's beacons get their times, and the words for the summary.
// The index is read as the log is decoded, so memory does not follow its size.
struct TimeSource {
    SystemTime start;                      // names the tree's BeaconTextLog; stamps beacons without an index
    std::unique_ptr<TimeIndexFile> index;  // null when the beacons do without
    std::optional<TimeIndexEntry> first;   // the index's first entry, taken to look
    std::string said;
    // The summary's words once the log is decoded (torn entries are counted
    // only by reading the index to its end).
    std::string finalSaid() {
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
};

TimeSource timeSourceOf(const fs::path& file, std::uint64_t size, const std::optional<SystemTime>& start,
                        const std::function<void(const std::string&)>& refused) {
    TimeSource ts;
    auto index = std::make_unique<TimeIndexFile>(file.string(), size);
    if (!index->refusal().empty())
        refused(index->refusal() + "; not read, the beacons take the next source of times");
    TimeIndexEntry first{};
    const bool recognised = index->recognised();
    if (index->next(first))
        ts.first = first;
    const auto named = rawByteLogStamp(file.filename().string());
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

// "\r<name>: 42 %" on a terminal, for files large enough to wait for.
class ProgressLine {
public:
    ProgressLine(bool enabled, const std::string& name, std::uint64_t size)
        : enabled_(enabled && size >= (16u << 20) && KESTREL_ISATTY(stderr)), name_(name), size_(size) {}
    ~ProgressLine() { clear(); }
    void clear() {
        if (shown_)
            std::fprintf(stderr, "\r%*s\r", static_cast<int>(name_.size() + 8), "");
        shown_ = false;
        enabled_ = false;
    }
    void update(std::uint64_t done) {
        if (!enabled_)
            return;
        const int percent = static_cast<int>(done * 100 / size_);
        if (percent == last_)
            return;
        last_ = percent;
        shown_ = true;
        std::fprintf(stderr, "\r%s: %3d %%", name_.c_str(), percent);
        std::fflush(stderr);
    }

private:
    bool enabled_;
    std::string name_;
    std::uint64_t size_;
    int last_ = -1;
    bool shown_ = false;
};

// Why a write failed, in the archive's words (Disk full, File access denied).
std::string reason(int err) { return ioErrorFromErrno(err).what(); }

// The CSV: rows go out as they come; the first failure stops it and keeps why.
class CsvOut {
public:
    explicit CsvOut(std::string path) : path_(std::move(path)) {}
    bool toStdout() const { return path_ == "-"; }
    bool open() {
        file_ = toStdout() ? stdout : std::fopen(path_.c_str(), "wb");
        if (!file_)
            error_ = reason(errno);
        else
            put(csvHeader());
        return file_ != nullptr;
    }
    void row(const BeaconLogEntry& e) {
        if (put(csvRow(e)))
            ++rows_;
    }
    // Flushes and closes; a CSV not written whole is removed. False then.
    bool finish() {
        if (error_.empty() && std::fflush(file_) != 0)
            error_ = reason(errno);
        if (!toStdout() && std::fclose(file_) != 0 && error_.empty())
            error_ = reason(errno);
        if (!error_.empty() && !toStdout())
            std::remove(path_.c_str());
        return error_.empty();
    }
    const std::string& error() const { return error_; }
    std::uint64_t rows() const { return rows_; }

private:
    bool put(const std::string& text) {
        if (!error_.empty())
            return false;
        if (std::fwrite(text.data(), 1, text.size(), file_) == text.size())
            return true;
        error_ = reason(errno);
        return false;
    }

    std::string path_;
    std::FILE* file_ = nullptr;
    std::string error_;
    std::uint64_t rows_ = 0;
};

// The system's reason for a failure (a file-system error's without the
// library's wording around it).
std::string why(const std::exception& e) {
    if (const auto* f = dynamic_cast<const fs::filesystem_error*>(&e))
        return f->code().message();
    return e.what();
}

// The --out folder: what is there must be a folder, or nothing.
void checkOutDir(const Options& o) {
    const fs::path out = o.outDir;
    std::error_code ec;
    const fs::file_status st = fs::status(out, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw PathError("--out " + pathError(out, ec));
    if (fs::exists(st) && !fs::is_directory(st))
        usageError("--out " + o.outDir + " is not a folder");
    if (nameTaken(out / "Telemetry"))
        usageError("--out " + o.outDir +
                   " already holds a Telemetry folder; the re-decoded archive goes to a "
                   "new or empty folder, never into an existing archive");
    if (enclosingArchive(out))
        usageError("--out " + o.outDir + " lies inside the archive " + enclosingArchive(out)->string() +
                   "; the re-decoded archive goes beside it, never into it");
    for (const auto& f : o.files)
        if (samePath(out, folderOf(f)))
            usageError("--out " + o.outDir + " is the folder of the input " + f +
                       "; the re-decoded archive goes to a new folder, never beside its input's own files");
}

int run(const Options& o);

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    // Whatever the file system does, the tool says so and ends with 1: a
    // failure not met where it was expected still names its path.
    try {
        return run(o);
    } catch (const PathError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kestrel-redecode: %s\n", e.what());
    } catch (const fs::filesystem_error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kestrel-redecode: %s: %s\n", e.path1().string().c_str(), e.code().message().c_str());
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kestrel-redecode: %s\n", e.what());
    }
    return 1;
}

namespace {

int run(const Options& o) {
    const bool csv = !o.csvPath.empty();
    const bool tree = !o.outDir.empty() || !csv;
    CsvOut csvOut(o.csvPath);
    // With the CSV on standard output the summaries go to the error stream.
    std::FILE* report = csv && csvOut.toStdout() ? stderr : stdout;

    // Refusals come before anything is written.
    if (!o.outDir.empty())
        checkOutDir(o);
    if (csv && !csvOut.toStdout())
        for (const auto& f : o.files)
            if (samePath(o.csvPath, f))
                usageError("--csv " + o.csvPath + " would overwrite its input");

    if (csv && !csvOut.open()) {
        std::fprintf(stderr, "kestrel-redecode: cannot write %s: %s\n", o.csvPath.c_str(), csvOut.error().c_str());
        return 1;
    }

    int status = 0;
    const auto fail = [&status](const std::string& file, const std::string& why) {
        std::fprintf(stderr, "kestrel-redecode: %s: %s\n", file.c_str(), why.c_str());
        status = 1;
    };

    // Every SatNOGS DB input, fetched or saved, goes into one stream: copies
    // of a beacon may sit in different pages. Its tree goes where the first
    // such input says.
    std::unique_ptr<PooledDecoding> pooled;
    std::string pooledTree;
    const auto pooledFor = [&](const fs::path& defaultTree) -> PooledDecoding& {
        if (!pooled) {
            PooledSinks sinks;
            if (tree)
                pooledTree = sinks.outDir = (o.outDir.empty() ? defaultTree : fs::path(o.outDir)).string();
            if (csv)
                sinks.beacon = [&csvOut](const BeaconLogEntry& e) { csvOut.row(e); };
            sinks.mergeWindowMs = o.mergeMs;
            pooled = std::make_unique<PooledDecoding>(std::move(sinks));
        }
        return *pooled;
    };
    const auto framesSince = [&](const PooledSummary& before) {
        const PooledSummary& now = pooled->summary();
        return std::to_string(now.bytes - before.bytes) + " bytes, " + std::to_string(now.frames - before.frames) +
               " frames";
    };

    if (o.satnogs) {
        const std::string name = "SatNOGS DB (NORAD " + std::to_string(*o.satnogs) + ")";
        PooledDecoding& decoding = pooledFor(
            o.outDir.empty() ? freeFolder(fs::absolute("satnogs_" + std::to_string(*o.satnogs) + "_redecoded"))
                             : fs::path());
        FetchOptions fetch;
        fetch.url = o.satnogsUrl;
        fetch.noradId = *o.satnogs;
        fetch.token = o.token;
        fetch.caFile = o.caFile;
        fetch.say = [&](const std::string& text) {
            if (!o.quiet)
                std::fprintf(stderr, "kestrel-redecode: %s: %s\n", name.c_str(), text.c_str());
        };
        std::uint64_t pages = 0;
        bool ended = false;
        try {
            const auto transport = CreateHttpTransport();
            fetchPooledFrames(*transport, fetch, [&](std::string_view body) {
                const PooledSummary before = decoding.summary();
                ++pages;
                decoding.readJson(body);
                fetch.say("page " + std::to_string(pages) + ": " + framesSince(before) + " (" +
                          std::to_string(decoding.summary().frames) + " so far)");
            });
        } catch (const std::exception& e) {
            fail(name, e.what());
            ended = true;
        }
        // A fetch cut short says so beside its rows' count, not only on the error stream.
        std::fprintf(report, "%s: %llu pages, %llu frames%s\n", name.c_str(), static_cast<unsigned long long>(pages),
                     static_cast<unsigned long long>(decoding.summary().frames),
                     ended ? " (ended early: the pages after these are missing)" : "");
    }

    for (const auto& file : o.files) {
        std::error_code ec;
        const fs::file_status st = fs::status(file, ec);
        if (ec || !fs::is_regular_file(st)) {
            fail(file, ec == std::errc::no_such_file_or_directory ? "no such file"
                       : ec                                       ? ec.message()
                                                                  : "not a regular file");
            continue;
        }
        const std::uint64_t size = fs::file_size(file, ec);
        const Kind kind = kindOf(file);
        if (kind == Kind::TimeIndex) {
            std::fprintf(report, "%s: a time index, read with its RawByteLog\n", file.c_str());
            continue;
        }
        if (kind == Kind::PooledJson || kind == Kind::PooledExport) {
            PooledDecoding& decoding = pooledFor(o.outDir.empty() && tree ? defaultOutDir(file) : fs::path());
            const PooledSummary before = decoding.summary();
            ProgressLine progress(!o.quiet, file, size);
            const char* what = kind == Kind::PooledJson ? "SatNOGS DB telemetry (JSON)" : "SatNOGS DB export";
            try {
                decoding.readFile(file, kind == Kind::PooledJson ? PooledFormat::Json : PooledFormat::Export,
                                  [&progress](std::uint64_t done) { progress.update(done); });
                progress.clear();
                if (decoding.summary().frames == before.frames && !decoding.detail().empty())
                    fail(file, "no telemetry: SatNOGS DB said \"" + decoding.detail() + "\"");
                else
                    std::fprintf(report, "%s: %s, %s\n", file.c_str(), what, framesSince(before).c_str());
            } catch (const std::exception& e) {
                progress.clear();
                fail(file, "cannot read: " + why(e) + " (" + framesSince(before) + " before it)");
            }
            continue;
        }
        if (kind == Kind::BeaconTextLog) {
            if (!csv) {
                fail(file, "a BeaconTextLog: only --csv reads those");
                continue;
            }
            std::string text;
            if (!readWholeFile(file, text)) {
                fail(file, "cannot read: " + reason(errno));
                continue;
            }
            const BeaconTextLogContents log = parseBeaconTextLog(text);
            for (const auto& e : log.entries)
                csvOut.row(e);
            std::fprintf(report, "%s: %zu beacons, %zu lines skipped (unparseable)\n", file.c_str(), log.entries.size(),
                         log.skippedLines);
            continue;
        }

        TimeSource times;
        try {
            times = timeSourceOf(file, size, o.start, [&](const std::string& text) {
                std::fprintf(stderr, "kestrel-redecode: %s: %s\n", file.c_str(), text.c_str());
            });
        } catch (const std::exception& e) {
            fail(file, "cannot read: " + why(e));
            continue;
        }
        Sinks sinks;
        if (tree)
            sinks.outDir = (o.outDir.empty() ? defaultOutDir(file) : fs::path(o.outDir)).string();
        if (csv)
            sinks.beacon = [&csvOut](const BeaconLogEntry& e) { csvOut.row(e); };
        sinks.framing = o.framing;
        if (times.index)
            sinks.nextTime = [&times](TimeIndexEntry& e) {
                if (times.first) {
                    e = *std::exchange(times.first, std::nullopt);
                    return true;
                }
                return times.index->next(e);
            };
        ProgressLine progress(!o.quiet, file, size);
        sinks.progress = [&progress](std::uint64_t done) { progress.update(done); };
        try {
            const Summary s = redecodeRawByteLog(file, times.start, sinks);
            progress.clear();
            // Like a live run, one without beacons leaves no files at all.
            const std::string telemetry = (fs::path(sinks.outDir) / "Telemetry").string();
            const std::string where =
                !tree                                          ? ""
                : !s.treeFailure.empty() && s.treeBeacons == 0 ? " (no tree written: " + s.treeFailure + ")"
                : !s.treeFailure.empty() ? " -> " + telemetry + " incomplete (" + std::to_string(s.treeBeacons) +
                                               " beacons in it): " + s.treeFailure
                : s.beacons == 0 ? " (nothing written)"
                                 : " -> " + telemetry;
            const std::string kiss = !s.kiss ? ""
                                             : " (KISS: " + std::to_string(s.kissFrames) + " data frames, " +
                                                   std::to_string(s.kissDropped) + " frames dropped)";
            std::fprintf(report, "%s: %llu bytes%s, %llu beacons, %llu frames rejected, %s%s\n", file.c_str(),
                         static_cast<unsigned long long>(s.bytes), kiss.c_str(),
                         static_cast<unsigned long long>(s.beacons), static_cast<unsigned long long>(s.rejected),
                         times.finalSaid().c_str(), where.c_str());
            if (!s.treeFailure.empty())
                status = 1;
        } catch (const std::exception& e) {
            progress.clear();
            fail(file, "cannot read: " + why(e));
        }
    }

    if (pooled) {
        pooled->finish();
        const PooledSummary& p = pooled->summary();
        const std::string telemetry = (fs::path(pooledTree) / "Telemetry").string();
        const std::string where = !tree                    ? ""
                                  : !p.treeFailure.empty() ? " -> " + telemetry + " incomplete: " + p.treeFailure
                                  : p.rows == 0            ? " (nothing written)"
                                                           : " -> " + telemetry;
        std::fprintf(report,
                     "SatNOGS DB frames: %llu frames, %llu beacons in %llu rows (%llu copies merged), "
                     "%llu frames without a KESTREL beacon and %llu unreadable entries skipped%s\n",
                     static_cast<unsigned long long>(p.frames), static_cast<unsigned long long>(p.beacons),
                     static_cast<unsigned long long>(p.rows), static_cast<unsigned long long>(p.beacons - p.rows),
                     static_cast<unsigned long long>(p.notBeacons), static_cast<unsigned long long>(p.unreadable),
                     where.c_str());
        if (!p.treeFailure.empty())
            status = 1;
    }

    if (csv) {
        if (!csvOut.finish()) {
            std::fprintf(stderr, "kestrel-redecode: %s not written whole: %s%s\n", o.csvPath.c_str(),
                         csvOut.error().c_str(), csvOut.toStdout() ? "" : "; removed");
            status = 1;
        } else {
            std::fprintf(report, "%llu rows written to %s\n", static_cast<unsigned long long>(csvOut.rows()),
                         csvOut.toStdout() ? "standard output" : o.csvPath.c_str());
        }
    }
    return status;
}

}  // namespace
