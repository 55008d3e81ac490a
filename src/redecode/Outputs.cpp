// Where kestrel-redecode's output goes: free folder names, the refusals of
// --out, and the CSV writer (see Outputs.h).

#include "redecode/Outputs.h"

#include "redecode/Redecode.h"
#include "telemetry/FileSystem.h"
#include "telemetry/InOutError.h"

#include <cerrno>

namespace kestrel::redecode {

namespace fs = std::filesystem;

namespace {

std::string pathError(const fs::path& path, const std::error_code& ec) { return utf8Of(path) + ": " + ec.message(); }

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
    if (nameTaken(out / "Telemetry"))
        return "already holds a Telemetry folder; the re-decoded archive goes to a new or empty folder, never into "
               "an existing archive";
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
    file_ = toStdout() ? stdout : openFile(path_, "wb");
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
    if (!error_.empty() && !toStdout())
        systemFileSystem().removeFile(path_);
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

}  // namespace kestrel::redecode
