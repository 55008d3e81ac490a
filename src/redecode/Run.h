#pragma once
// One run of kestrel-redecode, whatever its front end: SatNOGS DB fetched, then
// each input file decoded by its kind into the tree and the CSV, then the
// merged SatNOGS DB rows and the CSV finished. What it has to say goes out
// through RunVoice as lines; the exit status comes back.

#include "redecode/PooledFetch.h"
#include "redecode/Redecode.h"
#include "telemetry/Clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::redecode {

struct RunOptions {
    std::vector<std::string> files;
    std::string outDir;   // empty: a new folder beside each input (none with a CSV alone)
    std::string csvPath;  // empty: no CSV; "-": standard output
    std::optional<SystemTime> start;
    Framing framing = Framing::Auto;
    std::optional<long> satnogs;  // the NORAD ID to fetch
    std::string token;
    std::string satnogsUrl = kSatnogsTelemetryUrl;
    std::string caFile;
    std::int64_t mergeMs = 5000;
};

struct RunVoice {
    // A summary line (of a file, the fetch, the SatNOGS DB rows, the CSV).
    std::function<void(const std::string& line)> summary;
    // Something about one input or the fetch: why it failed, an index not read.
    std::function<void(const std::string& subject, const std::string& text)> note;
    // The fetch's progress and waits, a line each; may be empty.
    std::function<void(const std::string& subject, const std::string& text)> fetchNote;
    // A file being read, `done` bytes of `size`, and its end (before its
    // summary); may be empty.
    std::function<void(const std::string& file, std::uint64_t done, std::uint64_t size)> progress;
    std::function<void()> progressEnded;
};

// Why the options cannot run (the words after "kestrel-redecode: "), before
// anything is written; nothing when they can. Throws PathError when the output
// folder cannot be looked at.
std::optional<std::string> runRefusal(const RunOptions& options);

// 0 when every input was read and every output written whole, else 1. Throws
// what the file system throws where no input is to blame.
int runRedecode(const RunOptions& options, const RunVoice& voice);

}  // namespace kestrel::redecode
