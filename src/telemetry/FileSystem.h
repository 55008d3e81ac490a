#pragma once
// The file operations the archive and the forwarding's outbox need, behind a
// seam so tests can inject failures. Platform implementations:
// FileSystemPosix.cpp, FileSystemWin32.cpp. Every failure raises EInOutError
// (InOutError.h).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The platform's path separator, defined beside its file system.
extern const char kPathSeparator;

// dir, the separator and name; an empty dir leaves name relative to the
// current directory. A dir that ends in the separator (a root) keeps one.
inline std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (!path.empty() && path.back() != kPathSeparator)
        path += kPathSeparator;
    path += name;
    return path;
}

// An open file as the platform knows it (a descriptor or a handle).
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // The process's current directory, without a trailing separator except at a root.
    virtual std::string currentDirectory() = 0;
    virtual bool directoryExists(const std::string& path) = 0;
    // Creates one folder; its parent must exist.
    virtual void createDirectory(const std::string& path) = 0;
    // True when a file (not a folder) stands at path.
    virtual bool fileExists(const std::string& path) = 0;
    // Creates a new, empty file open for writing. Never replaces anything: a taken
    // name fails with code kIoFileExists.
    virtual FileHandle createFile(const std::string& path) = 0;
    // Opens an existing file for writing at its end.
    virtual FileHandle openForAppend(const std::string& path) = 0;
    // One write to the operating system, nothing buffered in the program (the
    // rest of a short write is asked for again). Storing fewer bytes than asked
    // is a failure (kIoDiskFull); the error's BytesWritten says how many were.
    virtual void write(FileHandle file, const void* data, std::size_t size) = 0;
    virtual void close(FileHandle file) = 0;
    // Opens a file for writing at its end, creating it when missing. For a file
    // only this program writes (the station folder's lock keeps others out):
    // truncate() works on what it returns.
    virtual FileHandle openOrCreate(const std::string& path) = 0;
    // Cuts a file from openOrCreate() back to size bytes; the next write goes
    // on at the new end.
    virtual void truncate(FileHandle file, std::uint64_t size) = 0;
    // Down to the disk: what was written survives a power cut.
    virtual void sync(FileHandle file) = 0;
    // The whole content of a file (kIoFileNotFound when there is none).
    virtual std::string readFile(const std::string& path) = 0;
    // Takes the lock file at path (creating it when missing) for this process
    // alone until the handle is closed: a POSIX record lock, an exclusive
    // share mode on Windows. kNoFile when another process holds it; a file
    // that cannot be made or opened raises EInOutError.
    virtual FileHandle lockFile(const std::string& path) = 0;
    // Removes a file; false when it could not be removed.
    virtual bool removeFile(const std::string& path) noexcept = 0;
    // Removes the last `count` bytes of a file that is not open for writing
    // (the part of a line a failed write stored).
    virtual void cutTail(const std::string& path, std::uint64_t count) = 0;
    // Gives a closed file another name in the same folder, in one step, never
    // replacing anything: a taken name fails with code kIoFileExists.
    virtual void renameNoReplace(const std::string& from, const std::string& to) = 0;
    // The names of the files (not folders) in a folder; none when it cannot be read.
    virtual std::vector<std::string> fileNames(const std::string& folder) = 0;
    // The bytes this program may still write on the disk that holds path;
    // nothing when that cannot be told.
    virtual std::optional<std::uint64_t> freeSpace(const std::string& /*path*/) { return std::nullopt; }
};

// The operating system's file system (one instance for the process).
IFileSystem& systemFileSystem();

// Paths are UTF-8 inside the program on every platform. These take one to
// and from a std::filesystem::path (which, made from a std::string on
// Windows, would read it in the system's code page) and open one with the C
// library (std::fopen on Windows takes the code page as well).
inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}
inline std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}
std::FILE* openFile(const std::string& path, const char* mode);

}  // namespace kestrel
