// kestrel-redecode: decodes recorded RawByteLogs again into a fresh archive
// tree, and exports beacons as CSV from RawByteLogs or BeaconTextLogs.

#include "Redecode.h"

#include "station/CommandLine.h"
#include "telemetry/BeaconTextLogReader.h"
#include "telemetry/InOutError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
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

Decodes KESTREL beacons again from recorded files. Each FILE may be
  - a RawByteLog (Telemetry/raw_log/log_raw_<UTC start>_UTC.KR7): its bytes go
    through the decoder's own frame finder, decoder and archive, which write a
    fresh Telemetry/ tree: Decoded/ with the run's BeaconTextLog and raw_data/
    with one RawFrameFile per beacon (no RawByteLog);
  - with --csv, also a BeaconTextLog (Telemetry/Decoded/KR7_beacon_*.txt).

A RawByteLog keeps no time per byte. Every beacon re-decoded from it is
stamped with the run's start time, taken from the file's name (UTC, to the
second): its BeaconTextLog lines, RawFrameFile names (which then take the
suffixes _2, _3, ...) and CSV rows all carry that one time.

Options:
  --out DIR    write the Telemetry/ tree below DIR. DIR must not be an input's
               own folder nor hold a Telemetry folder already: the tool never
               writes into an archive. Default: a new folder beside each
               input, named after it with _redecoded.
  --csv FILE   write one row per beacon to FILE ("-": standard output), with a
               header row naming each field and its unit, the receive time in
               ISO 8601 UTC, numbers with a "." and nan, inf, -inf. With --csv
               no Telemetry/ tree is written unless --out is given as well.
  --kiss       the RawByteLogs hold a KISS stream (a software TNC's, or a TNC
               in KISS mode): de-frame them first and decode the contents of
               port 0's data frames, as the program does live
  --no-kiss    they hold a plain TNC's bytes. Default: a log that begins with
               a FEND (0xC0) and whose start is mostly FEND-delimited frames
               is taken as KISS
  --quiet      no progress display
  -h, --help   show this help
  --version    show the version

Prints a summary per file: bytes, beacons, and frames rejected (trailer markers
that did not end a beacon: damaged frames, lone markers); for a KISS stream
also its data frames and the frames dropped (other ports, commands, broken). A file that cannot be
read is reported and skipped; the exit status is then 1 (2 for wrong usage).
)";

[[noreturn]] void usageError(const std::string& msg) {
    std::fprintf(stderr, "kestrel-redecode: %s\nTry 'kestrel-redecode --help'.\n", msg.c_str());
    std::exit(2);
}

struct Options {
    std::string outDir;
    std::string csvPath;
    bool quiet = false;
    Framing framing = Framing::Auto;
    std::vector<std::string> files;
};

Options parse(int argc, char** argv) {
    Options o;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
            o.files.push_back(a);
            continue;
        }
        if (a == "--") optionsDone = true;
        else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::fputs(VersionText("kestrel-redecode").c_str(), stdout);
            std::exit(0);
        } else if (a == "--quiet") o.quiet = true;
        else if (a == "--kiss") o.framing = Framing::Kiss;
        else if (a == "--no-kiss") o.framing = Framing::Plain;
        else if (a == "--out" || a == "--csv") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') usageError(a + " needs a value");
            (a == "--out" ? o.outDir : o.csvPath) = argv[++i];
        } else usageError("unknown option " + a);
    }
    if (o.files.empty()) usageError("no input file");
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

// A folder beside the input that does not exist yet.
fs::path defaultOutDir(const fs::path& input) {
    const fs::path base = folderOf(input) / (input.stem().string() + "_redecoded");
    fs::path candidate = base;
    for (int n = 2; fs::exists(candidate); ++n) candidate = base.string() + "_" + std::to_string(n);
    return candidate;
}

enum class Kind { RawByteLog, BeaconTextLog, Unknown };

Kind kindOf(const fs::path& file) {
    const std::string name = file.filename().string();
    if (rawByteLogStamp(name)) return Kind::RawByteLog;
    if (hasBeaconTextLogName(name)) return Kind::BeaconTextLog;
    // A renamed BeaconTextLog still starts with its header.
    char start[64] = {};
    std::size_t n = 0;
    if (std::FILE* f = std::fopen(file.string().c_str(), "rb")) {
        n = std::fread(start, 1, sizeof start, f);
        std::fclose(f);
    }
    return looksLikeBeaconTextLog(std::string_view(start, n)) ? Kind::BeaconTextLog : Kind::Unknown;
}

// "\r<name>: 42 %" on a terminal, for files large enough to wait for.
class ProgressLine {
public:
    ProgressLine(bool enabled, const std::string& name, std::uint64_t size)
        : enabled_(enabled && size >= (16u << 20) && KESTREL_ISATTY(stderr)), name_(name), size_(size) {}
    ~ProgressLine() { clear(); }
    void clear() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", static_cast<int>(name_.size() + 8), "");
        shown_ = false;
        enabled_ = false;
    }
    void update(std::uint64_t done) {
        if (!enabled_) return;
        const int percent = static_cast<int>(done * 100 / size_);
        if (percent == last_) return;
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

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    const bool csv = !o.csvPath.empty();
    const bool csvToStdout = o.csvPath == "-";
    const bool tree = !o.outDir.empty() || !csv;
    // With the CSV on standard output the summaries go to the error stream.
    std::FILE* report = csvToStdout ? stderr : stdout;

    // Refusals come before anything is written.
    if (!o.outDir.empty()) {
        const fs::path out = o.outDir;
        if (fs::exists(out) && !fs::is_directory(out)) usageError("--out " + o.outDir + " is not a folder");
        if (fs::exists(out / "Telemetry"))
            usageError("--out " + o.outDir + " already holds a Telemetry folder; the re-decoded archive goes to a "
                       "new or empty folder, never into an existing archive");
        for (const auto& f : o.files)
            if (samePath(out, folderOf(f)))
                usageError("--out " + o.outDir + " is the folder of the input " + f +
                           "; the re-decoded archive goes to a new folder, never beside its input's own files");
    }
    if (csv && !csvToStdout)
        for (const auto& f : o.files)
            if (samePath(o.csvPath, f)) usageError("--csv " + o.csvPath + " would overwrite its input");

    std::FILE* csvFile = nullptr;
    if (csv) {
        csvFile = csvToStdout ? stdout : std::fopen(o.csvPath.c_str(), "wb");
        if (!csvFile) {
            std::fprintf(stderr, "kestrel-redecode: cannot write %s: %s\n", o.csvPath.c_str(), std::strerror(errno));
            return 1;
        }
        std::fputs(csvHeader().c_str(), csvFile);
    }
    std::uint64_t rows = 0;
    const auto writeRow = [&](const BeaconLogEntry& e) {
        const std::string row = csvRow(e);
        std::fwrite(row.data(), 1, row.size(), csvFile);
        ++rows;
    };

    int status = 0;
    const auto fail = [&status](const std::string& file, const std::string& why) {
        std::fprintf(stderr, "kestrel-redecode: %s: %s\n", file.c_str(), why.c_str());
        status = 1;
    };
    for (const auto& file : o.files) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            fail(file, fs::exists(file, ec) ? "not a file" : "no such file");
            continue;
        }
        const Kind kind = kindOf(file);
        if (kind == Kind::BeaconTextLog) {
            if (!csv) {
                fail(file, "a BeaconTextLog: only --csv reads those");
                continue;
            }
            std::string text;
            if (!readWholeFile(file, text)) {
                fail(file, std::string("cannot read: ") + std::strerror(errno));
                continue;
            }
            const BeaconTextLogContents log = parseBeaconTextLog(text);
            for (const auto& e : log.entries) writeRow(e);
            std::fprintf(report, "%s: %zu beacons, %zu lines skipped (unparseable)\n", file.c_str(),
                         log.entries.size(), log.skippedLines);
            continue;
        }
        const auto stamp = rawByteLogStamp(fs::path(file).filename().string());
        if (kind == Kind::Unknown || !stamp) {
            fail(file, "not a RawByteLog named log_raw_<UTC start>_UTC.KR7 (the name gives the beacons' time)"
                       " nor a BeaconTextLog");
            continue;
        }

        Sinks sinks;
        if (tree) sinks.outDir = (o.outDir.empty() ? defaultOutDir(file) : fs::path(o.outDir)).string();
        if (csv) sinks.beacon = writeRow;
        sinks.framing = o.framing;
        ProgressLine progress(!o.quiet, file, fs::file_size(file, ec));
        sinks.progress = [&progress](std::uint64_t done) { progress.update(done); };
        try {
            const Summary s = redecodeRawByteLog(file, *stamp, sinks);
            progress.clear();
            // Like a live run, one without beacons leaves no files at all.
            const std::string where = !tree ? "" : s.beacons == 0 ? " (nothing written)"
                                                 : " -> " + (fs::path(sinks.outDir) / "Telemetry").string();
            const std::string kiss =
                !s.kiss ? "" : " (KISS: " + std::to_string(s.kissFrames) + " data frames, " +
                                   std::to_string(s.kissDropped) + " frames dropped)";
            std::fprintf(report, "%s: %llu bytes%s, %llu beacons, %llu frames rejected%s\n", file.c_str(),
                         static_cast<unsigned long long>(s.bytes), kiss.c_str(),
                         static_cast<unsigned long long>(s.beacons), static_cast<unsigned long long>(s.rejected),
                         where.c_str());
        } catch (const EInOutError& e) {
            progress.clear();
            fail(file, "cannot store a beacon below " + sinks.outDir + ": " + e.what());
        } catch (const std::exception& e) {
            progress.clear();
            fail(file, std::string("cannot read: ") + e.what());
        }
    }

    if (csvFile) {
        const bool written = std::fflush(csvFile) == 0 && !std::ferror(csvFile);
        if (!csvToStdout && std::fclose(csvFile) != 0) status = 1;
        if (!written) {
            std::fprintf(stderr, "kestrel-redecode: cannot write %s\n", o.csvPath.c_str());
            status = 1;
        } else {
            std::fprintf(report, "%llu rows written to %s\n", static_cast<unsigned long long>(rows),
                         csvToStdout ? "standard output" : o.csvPath.c_str());
        }
    }
    return status;
}
