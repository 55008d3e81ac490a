#pragma once
// The station log: what the station writes down (Notices.h) is also appended,
// with its UTC time, to kestrel-decoder.log in the station folder, so that a
// program started from a menu or from Explorer, which has no standard error
// anyone reads, still leaves its reports, fallbacks, port reasons, forwarding
// notices and shut-down failures where the operator finds them, and sends
// them on with the folder. Bounded: a write that would take it past
// kRotateSize first renames it to kestrel-decoder.old.log (replacing the one
// before). Writing it never stops the program: what it cannot write is said
// once on standard error.

#include "telemetry/Clock.h"
#include "telemetry/FileSystem.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class StationLog {
public:
    static constexpr const char* kFileName = "kestrel-decoder.log";
    static constexpr const char* kOldFileName = "kestrel-decoder.old.log";
    static constexpr std::uint64_t kRotateSize = 1024 * 1024;

    StationLog(IFileSystem& fs, IClock& clock) : fs_(fs), clock_(clock) {}
    ~StationLog() { close(); }
    StationLog(const StationLog&) = delete;
    StationLog& operator=(const StationLog&) = delete;

    // Opens (or makes) the log in folder and writes this run's first line;
    // false when it cannot be written (problem() says why). What the run
    // before wrote after its own first line is kept for previousRun().
    bool open(const std::string& folder);
    // One line: "2026-12-09 22:10:03.250 UTC  " and text (line breaks in it
    // become blanks).
    void write(std::string_view text);
    void close() noexcept;

    bool isOpen() const { return file_ != kNoFile; }
    const std::string& path() const { return path_; }
    const std::string& problem() const { return problem_; }
    // The lines the last run wrote after its first line, as they stand.
    const std::vector<std::string>& previousRun() const { return previousRun_; }

private:
    void append(const std::string& line);
    void rotate();
    void failed(const char* what, const std::exception& e);

    IFileSystem& fs_;
    IClock& clock_;
    std::string path_, oldPath_;
    FileHandle file_ = kNoFile;
    std::uint64_t size_ = 0;
    std::string problem_;
    std::vector<std::string> previousRun_;
};

// A line of the log without its time stamp ("" for a line that has none).
std::string_view StationLogText(std::string_view line);

}  // namespace kestrel
