// kestrel-redecode: decodes recorded RawByteLogs again into a fresh archive
// tree, and exports beacons as CSV from RawByteLogs or BeaconTextLogs; reads the
// frames every station sent to SatNOGS DB, saved or fetched, the same ways.
// The work is the team's room's (src/redecode); this is its command line.
//
// In order: the usage text; the command line; what a run says;
// commandLineMain, which the platform's entry calls (every file-system
// failure said).

#include "ProgressLine.h"
#include "Terminal.h"

#include "redecode/Inputs.h"
#include "redecode/Outputs.h"
#include "redecode/Run.h"

#include "share/Requeue.h"
#include "station/CommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <exception>
#include <string>
#include <vector>

using namespace kestrel;
using namespace kestrel::redecode;
namespace fs = std::filesystem;

namespace {

const char* const kUsage = R"(Usage: kestrel-redecode [options] FILE...
       kestrel-redecode --satnogs NORAD [--token TOKEN] [options] [FILE...]
       kestrel-redecode --requeue-rejects STATION_FOLDER

Decodes KESTREL beacons again from recorded files. Each FILE may be
  - a RawByteLog (Telemetry/raw_log/log_raw_<UTC start>_UTC.KR7), or any other
    recording of a TNC's bytes under any name (a renamed copy, a capture from
    another recorder): its bytes go through the decoder's own frame finder,
    decoder and archive, which write a fresh Telemetry/ tree: Decoded/ with the
    run's BeaconTextLog and raw_data/ with one RawFrameFile per beacon (no
    RawByteLog). A run whose log reached the file system's size limit went
    on in pieces (log_raw_<UTC start>_UTC_part2.KR7, _part3, ...): its first
    piece brings the pieces beside it along, and they are read as one
    recording (a beacon across two pieces included);
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
skipped; an entry given again exactly (the same observer, time and frame, as
SatNOGS DB's pages repeat frames when new ones arrive during a fetch) is
counted once and dropped. All SatNOGS DB inputs together make one tree (one
BeaconTextLog).

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
               folder other than one this tool wrote (which the run then
               replaces): the tool never writes into an archive.
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
  --requeue-rejects STATION_FOLDER
               send the frames the telemetry server refused (every
               Telemetry/share/rejects*.txt of the station folder) again, once
               what made it refuse them is mended: each is queued with the
               station's NoradId, Callsign and position as the [Share] section
               names them now, under its own receive time. A decoder running
               on the folder sends them within seconds; otherwise the next
               start does. Lines that hold no frame stay in the rejects file
  --quiet      no progress display
  -h, --help   show this help
  --version    show the version

Prints a summary per file: bytes, beacons, frames rejected (trailer markers
that did not end a beacon: damaged frames, lone markers) and the time source;
for a KISS stream also its data frames and the frames dropped (other ports,
commands, broken). A file that cannot be read is reported and skipped, with
the system's reason; so is a time index that is not a regular file or is
larger than any index of its log could be (the log then takes the next
source of times).

The CSV and the trees are written under temporary names (ending in
".incomplete") and put in place only when the whole run succeeded. A run that
fails (an input that cannot be read, a fetch or saved page that breaks off,
output that does not fit: Disk full, File access denied) puts nothing in
place, says for each output that an earlier file of its name is left as it
was or that none is written, and ends with exit status 1 (2 for wrong usage).
Frames count only from whole pages; Ctrl+C leaves the temporary files behind.
)";

[[noreturn]] void usageError(const std::string& msg) {
    std::fprintf(stderr, "kestrel-redecode: %s\nUsage: kestrel-redecode [options] FILE...  (see --help)\n",
                 msg.c_str());
    std::exit(2);
}

struct Options {
    RunOptions run;
    bool quiet = false;
    std::string requeue;  // the station folder whose rejects go out again
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

// The options that take a value, and whether an empty one counts as none.
bool takesValue(const std::string& a, bool& emptyIsNone) {
    emptyIsNone = a == "--out" || a == "--csv" || a == "--token" || a == "--satnogs-url" || a == "--ca-file" ||
                  a == "--requeue-rejects";
    return emptyIsNone || a == "--start" || a == "--satnogs" || a == "--merge-seconds";
}

// Option a's value v, checked and put in its place.
void setValue(Options& o, const std::string& a, const std::string& v) {
    if (a == "--start") {
        o.run.start = parseUtcTime(v);
        if (!o.run.start)
            usageError("--start " + v + ": not a UTC time \"YYYY-MM-DD HH:MM:SS\"");
    } else if (a == "--satnogs") {
        o.run.satnogs = wholeNumber(v, 1, 999999999);
        if (!o.run.satnogs)
            usageError("--satnogs " + v + ": not a NORAD ID (a positive whole number)");
    } else if (a == "--merge-seconds") {
        const auto seconds = wholeNumber(v, 0, 3600);
        if (!seconds)
            usageError("--merge-seconds " + v + ": not a whole number of seconds from 0 to 3600");
        o.run.mergeMs = *seconds * 1000;
    } else {
        (a == "--out"           ? o.run.outDir
         : a == "--csv"         ? o.run.csvPath
         : a == "--token"       ? o.run.token
         : a == "--satnogs-url" ? o.run.satnogsUrl
         : a == "--ca-file"     ? o.run.caFile
                                : o.requeue) = v;
    }
}

// args: the arguments after the program's name, in UTF-8.
Options parse(const std::vector<std::string>& args) {
    Options o;
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool emptyIsNone = false;
        if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
            o.run.files.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::fputs(VersionText("kestrel-redecode").c_str(), stdout);
            std::exit(0);
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--kiss" || a == "--no-kiss") {
            o.run.framing = a == "--kiss" ? Framing::Kiss : Framing::Plain;
        } else if (takesValue(a, emptyIsNone)) {
            if (i + 1 >= args.size() || (emptyIsNone && args[i + 1].empty()))
                usageError(a + " needs a value");
            setValue(o, a, args[++i]);
        } else {
            usageError("unknown option " + a);
        }
    }
    if (!o.requeue.empty() && (!o.run.files.empty() || o.run.satnogs))
        usageError("--requeue-rejects takes no input files");
    if (o.run.files.empty() && !o.run.satnogs && o.requeue.empty())
        usageError("no input file");
    if (!o.run.satnogsUrl.starts_with("https://") && !o.run.satnogsUrl.starts_with("http://"))
        usageError("--satnogs-url " + o.run.satnogsUrl + ": not an http:// or https:// address");
    if (o.run.token.empty())
        if (const char* env = std::getenv("SATNOGS_TOKEN"))
            o.run.token = env;
    return o;
}

// What a run says: summaries on standard output (on the error stream when the
// CSV goes to standard output), the rest on the error stream.
RunVoice voiceOf(const Options& o, std::unique_ptr<ProgressLine>& progress) {
    std::FILE* report = o.run.csvPath == "-" ? stderr : stdout;
    RunVoice voice;
    voice.summary = [report](const std::string& line) { std::fprintf(report, "%s\n", line.c_str()); };
    voice.note = [](const std::string& subject, const std::string& text) {
        std::fprintf(stderr, "kestrel-redecode: %s: %s\n", subject.c_str(), text.c_str());
    };
    if (o.quiet)
        return voice;
    voice.fetchNote = voice.note;
    voice.progress = [&progress](const std::string& file, std::uint64_t done, std::uint64_t size) {
        if (!progress)
            progress = std::make_unique<ProgressLine>(true, file, size);
        progress->update(done);
    };
    voice.progressEnded = [&progress] { progress.reset(); };
    return voice;
}

void failed(std::unique_ptr<ProgressLine>& progress, const std::string& text) {
    progress.reset();
    std::fflush(stdout);
    std::fprintf(stderr, "kestrel-redecode: %s\n", text.c_str());
}

}  // namespace

int kestrel::redecode::commandLineMain(const std::vector<std::string>& args) {
    const Options o = parse(args);
    std::unique_ptr<ProgressLine> progress;
    // Whatever the file system does, the tool says so and ends with 1: a
    // failure not met where it was expected still names its path.
    try {
        if (!o.requeue.empty()) {
            std::printf("%s\n", RequeueRejects(o.requeue).text().c_str());
            return 0;
        }
        // Refusals come before anything is written.
        if (const auto refusal = runRefusal(o.run))
            usageError(*refusal);
        return runRedecode(o.run, voiceOf(o, progress));
    } catch (const PathError& e) {
        failed(progress, e.what());
    } catch (const fs::filesystem_error& e) {
        failed(progress, e.path1().string() + ": " + e.code().message());
    } catch (const std::exception& e) {
        failed(progress, e.what());
    }
    return 1;
}
