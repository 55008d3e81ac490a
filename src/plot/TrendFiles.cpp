// Reading BeaconTextLogs and beacon CSVs into the trend view (see TrendFiles.h).

#include "plot/TrendFiles.h"

#include "telemetry/BeaconCsvReader.h"
#include "telemetry/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

namespace kestrel::plot {
namespace fs = std::filesystem;

namespace {

// A little less than a BeaconTextLog line: room for all the samples of a file.
constexpr std::uintmax_t kLineBytes = 150;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// UTF-8 to the wide functions on Windows: a folder named in any script opens.
std::unique_ptr<std::FILE, FileCloser> openRead(const fs::path& path) {
    return std::unique_ptr<std::FILE, FileCloser>(openFile(utf8Of(path), "rb"));
}

// Calls line(text) for each line of the file, without its LF; false when the
// file cannot be read.
template <typename OnLine>
bool forEachLine(const fs::path& path, OnLine line) {
    auto f = openRead(path);
    if (!f)
        return false;
    std::vector<char> buf(1 << 20);
    std::string carry;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) {
        std::string_view piece(buf.data(), n);
        if (!carry.empty()) {
            const std::size_t end = piece.find('\n');
            carry.append(piece.substr(0, end));
            if (end == std::string_view::npos)
                continue;
            if (!line(std::string_view(carry)))
                return true;
            carry.clear();
            piece.remove_prefix(end + 1);
        }
        for (std::size_t end; (end = piece.find('\n')) != std::string_view::npos; piece.remove_prefix(end + 1))
            if (!line(piece.substr(0, end)))
                return true;
        carry.assign(piece);
    }
    if (!carry.empty())
        line(std::string_view(carry));
    return !std::ferror(f.get());
}

std::string shown(const fs::path& p) {
    const auto u8 = p.u8string();
    return std::string(u8.begin(), u8.end());
}

void addFile(TrendView& view, const fs::path& path, TrendLoad& load) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (!ec)
        view.samples().reserve(std::size_t(size / kLineBytes));
    enum class Kind { Unknown, Log, Csv, Other } kind = Kind::Unknown;
    BeaconCsvReader csv;
    BeaconLogEntry entry;
    const bool read = forEachLine(path, [&](std::string_view line) {
        if (kind == Kind::Unknown) {
            if (BeaconCsvReader::looksLikeBeaconCsv(line)) {
                kind = csv.readHeader(line) ? Kind::Csv : Kind::Other;
                return kind == Kind::Csv;
            }
            kind = looksLikeBeaconTextLog(line) ? Kind::Log : Kind::Other;
            if (kind == Kind::Other)
                return false;
        }
        if (kind == Kind::Csv) {
            if (const auto e = csv.readRow(line)) {
                view.samples().add(*e);
                ++load.beacons;
            } else if (!line.empty() && line != "\r") {
                ++load.skipped;
            }
            return true;
        }
        switch (readBeaconTextLogLine(line, entry)) {
        case BeaconTextLogLine::Entry:
            view.samples().add(entry);
            ++load.beacons;
            break;
        case BeaconTextLogLine::Skipped: ++load.skipped; break;
        case BeaconTextLogLine::Passed: break;
        }
        return true;
    });
    if (!read)
        load.problem = "cannot read " + shown(path);
    else if (kind == Kind::Other)
        load.problem = shown(path) + " is neither a BeaconTextLog nor a beacon CSV";
}

fs::path decodedFolder(const fs::path& dir) {
    std::error_code ec;
    for (const fs::path& p : {dir / "Telemetry" / "Decoded", dir / "Decoded"})
        if (fs::is_directory(p, ec))
            return p;
    return dir.filename() == "Decoded" ? dir : fs::path();
}

}  // namespace

TrendLoad openTrendFile(TrendView& view, const fs::path& file) {
    TrendLoad load;
    addFile(view, file, load);
    view.samplesChanged();
    return load;
}

TrendLoad openTrendArchive(TrendView& view, const fs::path& dir, const fs::path& except) {
    TrendLoad load;
    const fs::path decoded = decodedFolder(dir);
    if (decoded.empty()) {
        load.problem = "no Telemetry/Decoded folder in " + shown(dir);
        return load;
    }
    std::vector<fs::path> logs;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(decoded, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        std::error_code other;  // this run's log may not be there yet
        if (it->is_regular_file(ec) && p.extension() == ".txt" && (except.empty() || !fs::equivalent(p, except, other)))
            logs.push_back(p);
    }
    std::sort(logs.begin(), logs.end());
    std::uintmax_t bytes = 0;
    for (const fs::path& p : logs)
        bytes += fs::file_size(p, ec);
    view.samples().reserve(std::size_t(bytes / kLineBytes));
    std::size_t unreadable = 0;
    for (const fs::path& p : logs) {
        TrendLoad one;
        addFile(view, p, one);
        load.beacons += one.beacons;
        load.skipped += one.skipped;
        // Other text files in the folder are no concern of ours.
        unreadable += one.problem.rfind("cannot read", 0) == 0;
    }
    if (ec)
        load.problem = "cannot list " + shown(decoded) + ": " + ec.message();
    else if (unreadable > 0)
        load.problem = std::to_string(unreadable) + " of the logs could not be read";
    view.samplesChanged();
    return load;
}

TrendLoad openTrendPath(TrendView& view, const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return openTrendArchive(view, path);
    return openTrendFile(view, path);
}

fs::path stationFolderOf(const fs::path& path) {
    std::error_code ec;
    fs::path p = fs::is_directory(path, ec) ? path : path.parent_path();
    if (p.filename() == "Decoded")
        p = p.parent_path();
    if (p.filename() == "Telemetry")
        p = p.parent_path();
    return p;
}

}  // namespace kestrel::plot
