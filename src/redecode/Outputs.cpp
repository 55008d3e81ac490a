// Where kestrel-redecode's output goes: free folder names, the refusals of
// --out, the CSV writer, and the results under temporary names until the run
// is over (see Outputs.h).

#include "redecode/Outputs.h"

#include "Version.h"
#include "redecode/Redecode.h"
#include "telemetry/FileSystem.h"
#include "telemetry/InOutError.h"

#include <cerrno>
#include <random>

namespace kestrel::redecode {

namespace fs = std::filesystem;

namespace {

std::string pathError(const fs::path& path, const std::error_code& ec) { return utf8Of(path) + ": " + ec.message(); }

// Whether anything has that name; a name that cannot be looked at counts as
// taken, so that nothing is ever put over it.
bool taken(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    return ec ? ec != std::errc::no_such_file_or_directory : fs::exists(st);
}

}  // namespace

bool samePath(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

fs::path folderOf(const fs::path& file) {
    fs::path parent = fs::absolute(file).parent_path();
    return parent.empty() ? fs::current_path() : parent;
}

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

bool nameTaken(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw PathError(pathError(path, ec));
    return fs::exists(st);
}

std::string cutName(std::string name, std::size_t most) {
    if (name.size() <= most)
        return name;
    std::size_t end = most;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    name.resize(end);
    return name;
}

fs::path freeFolder(const fs::path& base) {
    fs::path candidate = base;
    for (int n = 2; nameTaken(candidate); ++n)
        candidate = pathFromUtf8(utf8Of(base) + "_" + std::to_string(n));
    return candidate;
}

// A long input name is cut so that the folder's name stays within the 255
// bytes file systems take.
fs::path defaultOutDir(const fs::path& input) {
    const auto archive = enclosingArchive(folderOf(input));
    const std::string name = cutName(utf8Of(input.stem()), 200) + "_redecoded";
    return freeFolder((archive ? archive->parent_path() : folderOf(input)) / pathFromUtf8(name));
}

std::optional<std::string> outDirRefusal(const fs::path& out, const std::vector<std::string>& inputs) {
    std::error_code ec;
    const fs::file_status st = fs::status(out, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw PathError("--out " + pathError(out, ec));
    if (fs::exists(st) && !fs::is_directory(st))
        return "is not a folder";
    if (nameTaken(out / "Telemetry") && !isOwnTree(out / "Telemetry"))
        return "already holds a Telemetry folder that kestrel-redecode did not write; the re-decoded archive goes to "
               "a new or empty folder, never into an existing archive";
    if (const auto archive = enclosingArchive(out))
        return "lies inside the archive " + utf8Of(*archive) + "; the re-decoded archive goes beside it, never into it";
    for (const auto& f : inputs)
        if (samePath(out, folderOf(pathFromUtf8(f))))
            return "is the folder of the input " + f +
                   "; the re-decoded archive goes to a new folder, never beside its input's own files";
    return std::nullopt;
}

std::string writeFailure(int err) { return ioErrorFromErrno(err).what(); }

bool CsvOut::open() {
    file_ = toStdout() ? stdout : openFile(writtenTo_, "wb");
    if (!file_)
        error_ = writeFailure(errno);
    else
        put(csvHeader());
    return file_ != nullptr;
}

void CsvOut::row(const BeaconLogEntry& e) {
    if (put(csvRow(e)))
        ++rows_;
}

bool CsvOut::finish() {
    if (error_.empty() && std::fflush(file_) != 0)
        error_ = writeFailure(errno);
    if (!toStdout() && std::fclose(file_) != 0 && error_.empty())
        error_ = writeFailure(errno);
    return error_.empty();
}

bool CsvOut::put(const std::string& text) {
    if (!error_.empty())
        return false;
    if (std::fwrite(text.data(), 1, text.size(), file_) == text.size())
        return true;
    error_ = writeFailure(errno);
    return false;
}

bool isOwnTree(const fs::path& telemetry) {
    std::error_code ec;
    return fs::is_regular_file(telemetry / kTreeMark, ec);
}

PendingOutputs::PendingOutputs() {
    // Two runs at once on the same output each write names of their own.
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(random()));
    tag_ = text;
}

PendingOutputs::~PendingOutputs() {
    if (!csvTemp_.empty() || !trees_.empty())
        discard();
}

fs::path PendingOutputs::csv(const fs::path& path) {
    csvPath_ = path;
    csvTemp_ = path;
    csvTemp_ += "." + tag_ + ".incomplete";
    return csvTemp_;
}

fs::path PendingOutputs::tree(const fs::path& folder) {
    for (const Tree& t : trees_)
        if (t.folder == folder)
            return t.temp;
    trees_.push_back({folder, folder / ("Telemetry." + tag_ + ".incomplete"), !taken(folder)});
    return trees_.back().temp;
}

void PendingOutputs::removeTree(const Tree& t) {
    std::error_code ec;
    fs::remove_all(t.temp, ec);
    if (t.folderMade)
        fs::remove(t.folder, ec);  // only when empty
}

std::string PendingOutputs::placeTree(const Tree& t) {
    const fs::path made = t.temp / "Telemetry";
    const fs::path place = t.folder / "Telemetry";
    std::FILE* mark = openFile(utf8Of(made / kTreeMark), "wb");
    const std::string text = std::string("Written by kestrel-redecode ") + kVersion +
                             ": beacons decoded again, not a station's archive. kestrel-redecode --out " +
                             t.folder.string() + " replaces this Telemetry folder.\n";
    if (!mark)
        return "cannot mark it as kestrel-redecode's";
    const bool written = std::fputs(text.c_str(), mark) >= 0;
    if (std::fclose(mark) != 0 || !written)
        return "cannot mark it as kestrel-redecode's";
    // An earlier tree of this tool's goes aside first: a folder is never
    // renamed over another.
    std::error_code ec;
    const bool hadEarlier = taken(place);
    if (hadEarlier && !isOwnTree(place))
        return "a Telemetry folder that kestrel-redecode did not write is there now";
    const fs::path earlier = t.folder / ("Telemetry." + tag_ + ".earlier");
    if (hadEarlier) {
        fs::rename(place, earlier, ec);
        if (ec)
            return ec.message();
    }
    fs::rename(made, place, ec);
    if (ec) {
        const std::string why = ec.message();
        if (hadEarlier)
            fs::rename(earlier, place, ec);
        return why;
    }
    fs::remove_all(earlier, ec);
    return {};
}

std::vector<std::pair<std::string, std::string>> PendingOutputs::commit() {
    std::vector<std::pair<std::string, std::string>> failed;
    std::error_code ec;
    if (!csvTemp_.empty()) {
        fs::rename(csvTemp_, csvPath_, ec);
        if (ec) {
            failed.emplace_back(csvPath_.string(), ec.message());
            fs::remove(csvTemp_, ec);
        }
        csvTemp_.clear();
    }
    for (const Tree& t : trees_) {
        // A run without beacons writes no tree, and leaves an earlier one.
        if (taken(t.temp / "Telemetry"))
            if (const std::string why = placeTree(t); !why.empty())
                failed.emplace_back((t.folder / "Telemetry").string(), why);
        removeTree(t);
    }
    trees_.clear();
    return failed;
}

std::string PendingOutputs::discard() {
    std::string said;
    const auto say = [&](const fs::path& place) {
        said += (said.empty() ? "" : ", ") + place.string() + (taken(place) ? " left as it was" : " not written");
    };
    std::error_code ec;
    if (!csvTemp_.empty()) {
        fs::remove(csvTemp_, ec);
        say(csvPath_);
        csvTemp_.clear();
    }
    for (const Tree& t : trees_) {
        removeTree(t);
        say(t.folder / "Telemetry");
    }
    trees_.clear();
    return said;
}

}  // namespace kestrel::redecode
