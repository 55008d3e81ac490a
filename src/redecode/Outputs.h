#pragma once
// Where kestrel-redecode's output goes: a tree's folder (free names that fit,
// never inside an archive or beside an input's own files) and the CSV, written
// row by row. Both are written under temporary names beside their places
// (ending in ".incomplete") and put in place only when the whole run
// succeeded, so that a failed or interrupted run never changes an earlier
// result. A tree this tool wrote carries a mark (kTreeMark); a run given the
// same --out again replaces it. A station's archive, which has no mark, is
// never replaced.

#include "telemetry/BeaconTextLogReader.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
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
// The file in a Telemetry folder that says kestrel-redecode wrote it.
inline constexpr const char* kTreeMark = "redecoded.txt";
// Whether this Telemetry folder is a tree kestrel-redecode wrote.
bool isOwnTree(const std::filesystem::path& telemetry);

// Why --out DIR cannot take the tree (a sentence after "--out DIR"), or
// nothing: what is there must be a folder or nothing, hold no Telemetry folder
// but one this tool wrote, lie in no archive and be no input's folder. Throws
// PathError when that cannot be told.
std::optional<std::string> outDirRefusal(const std::filesystem::path& out, const std::vector<std::string>& inputs);

// Why a write failed, in the archive's words (Disk full, File access denied).
std::string writeFailure(int err);

// The CSV: rows go out as they come (to `writtenTo`, its temporary name, until
// the run is over); the first failure stops it and keeps why.
class CsvOut {
public:
    // "-": standard output.
    CsvOut(std::string path, std::string writtenTo) : path_(std::move(path)), writtenTo_(std::move(writtenTo)) {}
    CsvOut(const CsvOut&) = delete;
    CsvOut& operator=(const CsvOut&) = delete;
    bool toStdout() const { return path_ == "-"; }
    const std::string& path() const { return path_; }
    // Opens the file and writes the header; false (and error()) when it cannot.
    bool open();
    void row(const BeaconLogEntry& e);
    // Flushes and closes; false when the CSV was not written whole.
    bool finish();
    const std::string& error() const { return error_; }
    std::uint64_t rows() const { return rows_; }

private:
    bool put(const std::string& text);

    std::string path_, writtenTo_;
    std::FILE* file_ = nullptr;
    std::string error_;
    std::uint64_t rows_ = 0;
};

// The run's results under temporary names, until they are put in place or
// removed.
class PendingOutputs {
public:
    PendingOutputs();
    ~PendingOutputs();
    PendingOutputs(const PendingOutputs&) = delete;
    PendingOutputs& operator=(const PendingOutputs&) = delete;

    // Where to write the CSV meant for `path` meanwhile.
    std::filesystem::path csv(const std::filesystem::path& path);
    // The folder to hand the archive for the tree meant for folder/Telemetry:
    // it makes its Telemetry folder below it. The same for every call with one
    // `folder`.
    std::filesystem::path tree(const std::filesystem::path& folder);

    // Puts everything in place: the CSV over an earlier one, each tree that
    // holds beacons over an earlier tree of this tool's. Returns each output
    // that could not be put in place, with the reason (it is then removed, and
    // what was there before stays).
    std::vector<std::pair<std::string, std::string>> commit();
    // Removes everything written; returns one line naming each result and
    // whether an earlier one stays as it was.
    std::string discard();

private:
    struct Tree {
        std::filesystem::path folder, temp;
        bool folderMade;  // the run made the folder: it goes again when empty
    };
    // Marks a tree as this tool's and puts it in place; why not, if it cannot.
    std::string placeTree(const Tree& t);
    void removeTree(const Tree& t);

    std::string tag_;
    std::filesystem::path csvPath_, csvTemp_;
    std::vector<Tree> trees_;
};

}  // namespace kestrel::redecode
