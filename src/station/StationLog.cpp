// The station log: timed lines appended through the file seam, renamed aside
// at its bound (see StationLog.h).

#include "station/StationLog.h"

#include "BuildVersion.h"
#include "telemetry/InOutError.h"
#include "telemetry/TextFormat.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace kestrel {
namespace {

constexpr std::string_view kStamp = " UTC  ";
constexpr std::string_view kProgram = "kestrel-decoder ";
constexpr std::string_view kStarted = " started in ";

bool IsFirstLine(std::string_view text) { return text.starts_with(kProgram) && text.find(kStarted) != text.npos; }

}  // namespace

std::string_view StationLogText(std::string_view line) {
    const std::size_t at = line.find(kStamp);
    return at == line.npos ? std::string_view() : line.substr(at + kStamp.size());
}

bool StationLog::open(const std::string& folder) {
    close();
    path_ = JoinPath(folder, kFileName);
    oldPath_ = JoinPath(folder, kOldFileName);
    problem_.clear();
    previousRun_.clear();
    std::string before;
    try {
        before = fs_.readFile(path_);
    } catch (const EInOutError&) {
        // None yet, or unreadable: opening says which.
    }
    // The last run: what follows the last first line.
    std::size_t start = 0;
    while (start < before.size()) {
        std::size_t end = before.find('\n', start);
        if (end == before.npos)
            end = before.size();
        std::string_view line(before.data() + start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (IsFirstLine(StationLogText(line)))
            previousRun_.clear();
        else if (!line.empty())
            previousRun_.emplace_back(line);
        start = end + 1;
    }
    try {
        file_ = fs_.openOrCreate(path_);
    } catch (const std::exception& e) {
        failed("cannot be written", e);
        return false;
    }
    size_ = before.size();
    write(std::string(kProgram) + KESTREL_PACKAGE_VERSION + std::string(kStarted) + folder);
    return isOpen();
}

void StationLog::write(std::string_view text) {
    if (!isOpen())
        return;
    const SystemTime t = clock_.utcNow();
    std::string line = formatDate(t) + " " + formatTime(t) + "." + formatUnsigned(t.millisecond, 3);
    line += kStamp;
    for (const char c : text)
        line += c == '\r' || c == '\n' ? ' ' : c;
    line += "\r\n";
    append(line);
}

void StationLog::append(const std::string& line) {
    try {
        if (size_ > 0 && size_ + line.size() > kRotateSize)
            rotate();
        fs_.write(file_, line.data(), line.size());
        size_ += line.size();
    } catch (const EInOutError& e) {
        size_ += e.BytesWritten;
        failed("could not be written", e);
    } catch (const std::exception& e) {
        failed("could not be written", e);
    }
}

// The full log goes aside whole; should the name not be freed, it starts
// again empty all the same, so the log stays bounded.
void StationLog::rotate() {
    fs_.close(std::exchange(file_, kNoFile));
    fs_.removeFile(oldPath_);
    bool renamed = true;
    try {
        fs_.renameNoReplace(path_, oldPath_);
    } catch (const EInOutError&) {
        renamed = false;
    }
    file_ = fs_.openOrCreate(path_);
    if (!renamed)
        fs_.truncate(file_, 0);
    size_ = 0;
}

// Said once; later lines are still tried (a full disk may get room again).
void StationLog::failed(const char* what, const std::exception& e) {
    if (!problem_.empty())
        return;
    problem_ = "The station log " + path_ + " " + what + ": " + e.what();
    std::fprintf(stderr, "kestrel-decoder: %s\n", problem_.c_str());
}

void StationLog::close() noexcept {
    if (file_ == kNoFile)
        return;
    try {
        fs_.close(file_);
    } catch (...) {
    }
    file_ = kNoFile;
}

}  // namespace kestrel
