#pragma once
// A file system that hands every call to another one (the system's by
// default), for tests that change only a few of its calls.

#include "telemetry/FileSystem.h"

#include <string>
#include <vector>

namespace kestrel::test {

class ForwardingFileSystem : public IFileSystem {
public:
    explicit ForwardingFileSystem(IFileSystem& target = systemFileSystem()) : target_(target) {}

    std::string currentDirectory() override { return target_.currentDirectory(); }
    bool directoryExists(const std::string& p) override { return target_.directoryExists(p); }
    void createDirectory(const std::string& p) override { target_.createDirectory(p); }
    bool fileExists(const std::string& p) override { return target_.fileExists(p); }
    FileHandle createFile(const std::string& p) override { return target_.createFile(p); }
    FileHandle openForAppend(const std::string& p) override { return target_.openForAppend(p); }
    void write(FileHandle f, const void* data, std::size_t size) override { target_.write(f, data, size); }
    void close(FileHandle f) override { target_.close(f); }
    FileHandle openOrCreate(const std::string& p) override { return target_.openOrCreate(p); }
    void truncate(FileHandle f, std::uint64_t size) override { target_.truncate(f, size); }
    void sync(FileHandle f) override { target_.sync(f); }
    std::string readFile(const std::string& p) override { return target_.readFile(p); }
    FileHandle lockFile(const std::string& p) override { return target_.lockFile(p); }
    bool removeFile(const std::string& p) noexcept override { return target_.removeFile(p); }
    void cutTail(const std::string& p, std::uint64_t count) override { target_.cutTail(p, count); }
    void renameNoReplace(const std::string& from, const std::string& to) override { target_.renameNoReplace(from, to); }
    std::vector<std::string> fileNames(const std::string& folder) override { return target_.fileNames(folder); }
    std::optional<std::uint64_t> freeSpace(const std::string& p) override { return target_.freeSpace(p); }

protected:
    IFileSystem& target_;
};

}  // namespace kestrel::test
