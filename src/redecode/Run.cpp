// One run of kestrel-redecode (see Run.h).
//
// In order: the refusals made before anything is written; the run's state and
// how a failure is said; the fetch from SatNOGS DB; each input by its kind (a
// saved SatNOGS DB answer, a BeaconTextLog, a recording of a TNC's bytes); the
// merged SatNOGS DB rows and the CSV finished; the outputs put in place, or
// removed when the run did not succeed.

#include "redecode/Run.h"

#include "redecode/Inputs.h"
#include "redecode/Outputs.h"
#include "redecode/Pooled.h"
#include "share/HttpTransport.h"
#include "telemetry/TextFormat.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

namespace kestrel::redecode {

namespace fs = std::filesystem;

std::optional<std::string> runRefusal(const RunOptions& o) {
    if (!o.outDir.empty())
        if (const auto why = outDirRefusal(pathFromUtf8(o.outDir), o.files))
            return "--out " + o.outDir + " " + *why;
    if (!o.csvPath.empty() && o.csvPath != "-")
        for (const auto& f : o.files)
            if (samePath(pathFromUtf8(o.csvPath), pathFromUtf8(f)))
                return "--csv " + o.csvPath + " would overwrite its input";
    return std::nullopt;
}

namespace {

// The system's reason for a failure (a file-system error's without the
// library's wording around it).
std::string why(const std::exception& e) {
    if (const auto* f = dynamic_cast<const fs::filesystem_error*>(&e))
        return f->code().message();
    return e.what();
}

std::string count(std::uint64_t n) { return std::to_string(n); }

class Run {
public:
    Run(const RunOptions& o, const RunVoice& voice)
        : o_(o),
          voice_(voice),
          csv_(o.csvPath,
               o.csvPath.empty() || o.csvPath == "-" ? o.csvPath : utf8Of(outputs_.csv(pathFromUtf8(o.csvPath)))),
          wantCsv_(!o.csvPath.empty()),
          tree_(!o.outDir.empty() || !wantCsv_) {}

    int go() {
        if (wantCsv_ && !csv_.open()) {
            voice_.note("cannot write " + o_.csvPath, csv_.error());
            return 1;
        }
        if (o_.satnogs)
            fetch(*o_.satnogs);
        for (const auto& file : o_.files)
            input(file);
        if (pooled_)
            finishPooled();
        if (wantCsv_ && !csv_.finish())
            fail(o_.csvPath + " not written whole", csv_.error());
        return placeOutputs();
    }

private:
    void fail(const std::string& subject, const std::string& text) {
        voice_.note(subject, text);
        status_ = 1;
    }
    void progress(const std::string& file, std::uint64_t done, std::uint64_t size) {
        if (voice_.progress)
            voice_.progress(file, done, size);
    }
    void progressEnded() {
        if (voice_.progressEnded)
            voice_.progressEnded();
    }
    void csvRowsToo(std::function<void(const BeaconLogEntry&)>& sink) {
        if (wantCsv_)
            sink = [this](const BeaconLogEntry& e) { csv_.row(e); };
    }

    // Every SatNOGS DB input, fetched or saved, goes into one stream: copies
    // of a beacon may sit in different pages. Its tree goes where the first
    // such input says.
    PooledDecoding& pooledFor(const fs::path& defaultTree) {
        if (!pooled_) {
            PooledSinks sinks;
            if (tree_) {
                pooledTree_ = utf8Of(o_.outDir.empty() ? defaultTree : pathFromUtf8(o_.outDir));
                sinks.outDir = utf8Of(outputs_.tree(pathFromUtf8(pooledTree_)));
            }
            csvRowsToo(sinks.beacon);
            sinks.mergeWindowMs = o_.mergeMs;
            pooled_ = std::make_unique<PooledDecoding>(std::move(sinks));
        }
        return *pooled_;
    }
    std::string framesSince(const PooledSummary& before) const {
        const PooledSummary& now = pooled_->summary();
        return count(now.bytes - before.bytes) + " bytes, " + count(now.frames - before.frames) + " frames";
    }

    void fetch(long norad);
    void input(const std::string& file);
    void pooledFile(const std::string& file, std::uint64_t size, InputKind kind);
    void textLog(const std::string& file);
    bool readWithItsRun(const std::string& file) const;
    void rawBytes(const std::string& file, std::uint64_t size);
    void finishPooled();
    int placeOutputs();

    const RunOptions& o_;
    const RunVoice& voice_;
    // Nothing takes its place before the run has succeeded.
    PendingOutputs outputs_;
    CsvOut csv_;
    const bool wantCsv_;
    const bool tree_;
    std::unique_ptr<PooledDecoding> pooled_;
    std::string pooledTree_;
    int status_ = 0;
};

// ---- The fetch ---------------------------------------------------------------

void Run::fetch(long norad) {
    const std::string name = "SatNOGS DB (NORAD " + count(static_cast<std::uint64_t>(norad)) + ")";
    PooledDecoding& decoding = pooledFor(
        o_.outDir.empty() ? freeFolder(fs::absolute("satnogs_" + std::to_string(norad) + "_redecoded")) : fs::path());
    FetchOptions fetch;
    fetch.url = o_.satnogsUrl;
    fetch.noradId = norad;
    fetch.token = o_.token;
    fetch.caFile = o_.caFile;
    fetch.say = [&](const std::string& text) {
        if (voice_.fetchNote)
            voice_.fetchNote(name, text);
    };
    std::uint64_t pages = 0;
    bool ended = false;
    try {
        const auto transport = CreateHttpTransport();
        fetchPooledFrames(*transport, fetch, [&](std::string_view body) {
            const PooledSummary before = decoding.summary();
            try {
                decoding.readJson(body);
            } catch (const std::exception& e) {
                throw std::runtime_error("page " + count(pages + 1) + ": " + e.what());
            }
            ++pages;
            fetch.say("page " + count(pages) + ": " + framesSince(before) + " (" + count(decoding.summary().frames) +
                      " so far)");
        });
    } catch (const std::exception& e) {
        fail(name, e.what());
        ended = true;
    }
    // A fetch cut short says so beside its rows' count, not only on the error stream.
    voice_.summary(name + ": " + count(pages) + " pages, " + count(decoding.summary().frames) + " frames" +
                   (ended ? " from whole pages (ended early: the pages after these are missing)" : ""));
}

// ---- The inputs --------------------------------------------------------------

void Run::input(const std::string& file) {
    const fs::path path = pathFromUtf8(file);
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || !fs::is_regular_file(st)) {
        fail(file, ec == std::errc::no_such_file_or_directory ? "no such file"
                   : ec                                       ? ec.message()
                                                              : "not a regular file");
        return;
    }
    const std::uint64_t size = fs::file_size(path, ec);
    switch (const InputKind kind = inputKindOf(path)) {
    case InputKind::TimeIndex: voice_.summary(file + ": a time index, read with its RawByteLog"); return;
    case InputKind::PooledJson:
    case InputKind::PooledExport: pooledFile(file, size, kind); return;
    case InputKind::BeaconTextLog: textLog(file); return;
    case InputKind::RawBytes: rawBytes(file, size); return;
    }
}

void Run::pooledFile(const std::string& file, std::uint64_t size, InputKind kind) {
    PooledDecoding& decoding = pooledFor(o_.outDir.empty() && tree_ ? defaultOutDir(pathFromUtf8(file)) : fs::path());
    const PooledSummary before = decoding.summary();
    const bool json = kind == InputKind::PooledJson;
    try {
        decoding.readFile(file, json ? PooledFormat::Json : PooledFormat::Export,
                          [&](std::uint64_t done) { progress(file, done, size); });
        progressEnded();
        if (decoding.summary().frames == before.frames && !decoding.detail().empty())
            fail(file, "no telemetry: SatNOGS DB said \"" + decoding.detail() + "\"");
        else
            voice_.summary(file + ": " + (json ? "SatNOGS DB telemetry (JSON)" : "SatNOGS DB export") + ", " +
                           framesSince(before));
    } catch (const std::exception& e) {
        progressEnded();
        fail(file, "cannot read: " + why(e) + " (" + framesSince(before) + " before it)");
    }
}

void Run::textLog(const std::string& file) {
    if (!wantCsv_) {
        fail(file, "a BeaconTextLog: only --csv reads those");
        return;
    }
    std::string text;
    if (!readWholeFile(file, text)) {
        fail(file, "cannot read: " + writeFailure(errno));
        return;
    }
    const BeaconTextLogContents log = parseBeaconTextLog(text);
    for (const auto& e : log.entries)
        csv_.row(e);
    voice_.summary(file + ": " + count(log.entries.size()) + " beacons, " + count(log.skippedLines) +
                   " lines skipped (unparseable)");
}

// The summary's words for where a recording's tree goes. Like a live run, one
// without beacons leaves no files at all.
std::string treeWords(const Summary& s, const std::string& telemetry) {
    if (!s.treeFailure.empty())
        return " (no tree written: " + s.treeFailure + ")";
    return s.beacons == 0 ? " (nothing written)" : " -> " + telemetry;
}

// A later piece of a run whose first piece is among the inputs: that one reads it.
bool Run::readWithItsRun(const std::string& file) const {
    const fs::path path = pathFromUtf8(file);
    if (!isLaterPiece(utf8Of(path.filename())))
        return false;
    for (const std::string& other : o_.files)
        for (const std::string& piece : runPieces(other))
            if (piece != other && samePath(pathFromUtf8(piece), path))
                return !isLaterPiece(utf8Of(pathFromUtf8(other).filename()));
    return false;
}

void Run::rawBytes(const std::string& file, std::uint64_t size) {
    if (readWithItsRun(file)) {
        voice_.summary(file + ": a piece of a run, read with its first piece");
        return;
    }
    // A run that went on in pieces when its log could not grow is one
    // recording: a beacon cut in two at a piece's end is still found.
    const std::vector<std::string> pieces =
        isLaterPiece(utf8Of(pathFromUtf8(file).filename())) ? std::vector<std::string>{file} : runPieces(file);
    std::vector<TimeIndexFile::LogPiece> sized{{file, size}};
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::error_code ec;
        sized.push_back({pieces[i], fs::file_size(pathFromUtf8(pieces[i]), ec)});
        size += sized.back().size;
    }
    TimeSource times;
    try {
        times = timeSourceOf(sized, o_.start, [&](const std::string& text) { voice_.note(file, text); });
    } catch (const std::exception& e) {
        fail(file, "cannot read: " + why(e));
        return;
    }
    Sinks sinks;
    const fs::path treeDir = !tree_                ? fs::path()
                             : o_.outDir.empty() ? defaultOutDir(pathFromUtf8(file))
                                                 : pathFromUtf8(o_.outDir);
    if (tree_)
        sinks.outDir = utf8Of(outputs_.tree(treeDir));
    csvRowsToo(sinks.beacon);
    sinks.framing = o_.framing;
    if (times.index)
        sinks.nextTime = [&times](TimeIndexEntry& e) { return times.next(e); };
    sinks.progress = [&](std::uint64_t done) { progress(file, done, size); };
    try {
        const Summary s = redecodeRawByteLog(pieces, times.start, sinks);
        progressEnded();
        const std::string where = tree_ ? treeWords(s, utf8Of(treeDir / "Telemetry")) : "";
        const std::string kiss =
            !s.kiss ? ""
                    : " (KISS: " + count(s.kissFrames) + " data frames, " + count(s.kissDropped) + " frames dropped)";
        const std::string inPieces = pieces.size() > 1 ? " in " + count(pieces.size()) + " pieces" : "";
        voice_.summary(file + ": " + count(s.bytes) + " bytes" + inPieces + kiss + ", " + count(s.beacons) +
                       " beacons, " + count(s.rejected) + " frames rejected, " + times.finalSaid() + where);
        if (!s.treeFailure.empty())
            status_ = 1;
    } catch (const std::exception& e) {
        progressEnded();
        fail(file, "cannot read: " + why(e));
    }
}

// ---- The end -----------------------------------------------------------------

void Run::finishPooled() {
    pooled_->finish();
    const PooledSummary& p = pooled_->summary();
    const std::string telemetry = utf8Of(pathFromUtf8(pooledTree_) / "Telemetry");
    const std::string where = !tree_                   ? ""
                              : !p.treeFailure.empty() ? " (no tree written: " + p.treeFailure + ")"
                              : p.rows == 0            ? " (nothing written)"
                              : status_ != 0           ? " (not put in place)"
                                                       : " -> " + telemetry;
    voice_.summary("SatNOGS DB frames: " + count(p.frames) + " frames, " + count(p.beacons) + " beacons in " +
                   count(p.rows) + " rows (" + count(p.beacons - p.rows) + " copies merged), " + count(p.notBeacons) +
                   " frames without a KESTREL beacon and " + count(p.unreadable) + " unreadable entries skipped, " +
                   count(p.duplicates) + " duplicates dropped" + where);
    if (!p.treeFailure.empty())
        status_ = 1;
}

// A failed run changes no result: an earlier file stays as it was.
int Run::placeOutputs() {
    if (status_ != 0) {
        if (const std::string said = outputs_.discard(); !said.empty())
            voice_.note("nothing put in place, the run did not succeed", said);
        return status_;
    }
    for (const auto& [place, why] : outputs_.commit())
        fail(place, "not put in place: " + why);
    if (wantCsv_ && status_ == 0)
        voice_.summary(count(csv_.rows()) + " rows written to " + (csv_.toStdout() ? "standard output" : o_.csvPath));
    return status_;
}

}  // namespace

int runRedecode(const RunOptions& options, const RunVoice& voice) { return Run(options, voice).go(); }

}  // namespace kestrel::redecode
