#pragma once
// Where kestrel-redecode's output goes: a tree's folder (free names that fit,
// never inside an archive or beside an input's own files) and the CSV, written
// row by row and removed when it could not be written whole.

#include "telemetry/BeaconTextLogReader.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace kestrel::redecode {

// A file-system failure with the path it concerns and the system's reason.
class PathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool samePath(const std::filesystem::path& a, const std::filesystem::path& b);
// The absolute folder that holds a file.
std::filesystem::path folderOf(const std::filesystem::path& file);
// The Telemetry folder a path lies in, if any.
std::optional<std::filesystem::path> enclosingArchive(const std::filesystem::path& path);
// Whether anything, even a dangling or looping link, has this name. Throws
// PathError when that cannot be told (a name too long, a folder that may not
// be looked into).
bool nameTaken(const std::filesystem::path& path);
// A name of at most `most` bytes: longer ones are cut, never inside a UTF-8
// character.
std::string cutName(std::string name, std::size_t most);
// A folder name that is free: `base`, else base_2, base_3, ...
std::filesystem::path freeFolder(const std::filesystem::path& base);
// A new folder beside the archive that holds the input, or beside the input:
// never inside Telemetry/, the folder the operator sends on as it is.
std::filesystem::path defaultOutDir(const std::filesystem::path& input);
// Why --out DIR cannot take the tree (a sentence after "--out DIR"), or
// nothing: what is there must be a folder or nothing, hold no Telemetry folder,
// lie in no archive and be no input's folder. Throws PathError when that
// cannot be told.
std::optional<std::string> outDirRefusal(const std::filesystem::path& out, const std::vector<std::string>& inputs);

// Why a write failed, in the archive's words (Disk full, File access denied).
std::string writeFailure(int err);

// The CSV: rows go out as they come; the first failure stops it and keeps why.
class CsvOut {
public:
    // "-": standard output.
    explicit CsvOut(std::string path) : path_(std::move(path)) {}
    CsvOut(const CsvOut&) = delete;
    CsvOut& operator=(const CsvOut&) = delete;
    bool toStdout() const { return path_ == "-"; }
    const std::string& path() const { return path_; }
    // Opens the file and writes the header; false (and error()) when it cannot.
    bool open();
    void row(const BeaconLogEntry& e);
    // Flushes and closes; a CSV not written whole is removed. False then.
    bool finish();
    const std::string& error() const { return error_; }
    std::uint64_t rows() const { return rows_; }

private:
    bool put(const std::string& text);

    std::string path_;
    std::FILE* file_ = nullptr;
    std::string error_;
    std::uint64_t rows_ = 0;
};

}  // namespace kestrel::redecode
