#pragma once
// The archive's file system in memory, with a kill on demand: after a given
// number of changes (create, write, close, rename, remove, new folder) the
// "process" dies and every later call throws Killed, leaving the files as a
// kill -9 would. revive() is the next start on the same disk.

#include "telemetry/FileSystem.h"
#include "telemetry/InOutError.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestrel::test {

class MemoryFileSystem final : public IFileSystem {
public:
    struct Killed {};

    std::map<std::string, std::string> files;
    std::set<std::string> folders{"/station"};
    int changesLeft = -1;  // the kill comes at the change that brings it to 0; -1: never

    void revive() {
        changesLeft = -1;
        handles_.clear();
        locks_.clear();
    }

    std::string currentDirectory() override { return "/station"; }
    bool directoryExists(const std::string& path) override { return alive() && folders.count(path) != 0; }
    void createDirectory(const std::string& path) override {
        change();
        folders.insert(path);
    }
    bool fileExists(const std::string& path) override { return alive() && files.count(path) != 0; }
    FileHandle createFile(const std::string& path) override {
        change();
        if (files.count(path))
            throw EInOutError::fromCode(kIoFileExists);
        files[path];
        return open(path);
    }
    FileHandle openForAppend(const std::string& path) override {
        alive();
        if (!files.count(path))
            throw EInOutError::fromCode(kIoFileNotFound);
        return open(path);
    }
    void write(FileHandle file, const void* data, std::size_t size) override {
        change();
        files.at(handles_.at(static_cast<std::size_t>(file))).append(static_cast<const char*>(data), size);
    }
    void close(FileHandle file) override {
        change();
        locks_.erase(handles_.at(static_cast<std::size_t>(file)));
        handles_.at(static_cast<std::size_t>(file)).clear();
    }
    FileHandle openOrCreate(const std::string& path) override {
        if (!files.count(path))
            change();
        files[path];
        return open(path);
    }
    void truncate(FileHandle file, std::uint64_t size) override {
        change();
        std::string& content = files.at(handles_.at(static_cast<std::size_t>(file)));
        content.resize(std::min<std::size_t>(content.size(), size));
    }
    void sync(FileHandle) override { alive(); }
    std::string readFile(const std::string& path) override {
        alive();
        const auto it = files.find(path);
        if (it == files.end())
            throw EInOutError::fromCode(kIoFileNotFound);
        return it->second;
    }
    // One process: the lock is a file that is there while it is held.
    FileHandle lockFile(const std::string& path) override {
        change();
        if (locks_.count(path))
            return kNoFile;
        locks_.insert(path);
        files[path];
        return open(path);
    }
    bool removeFile(const std::string& path) noexcept override { return changesLeft != 0 && files.erase(path) != 0; }
    void cutTail(const std::string& path, std::uint64_t count) override {
        change();
        std::string& content = files.at(path);
        content.resize(count < content.size() ? content.size() - count : 0);
    }
    void renameNoReplace(const std::string& from, const std::string& to) override {
        change();
        if (files.count(to))
            throw EInOutError::fromCode(kIoFileExists);
        auto node = files.extract(from);
        if (node.empty())
            throw EInOutError::fromCode(kIoFileNotFound);
        node.key() = to;
        files.insert(std::move(node));
    }
    std::vector<std::string> fileNames(const std::string& folder) override {
        alive();
        std::vector<std::string> names;
        const std::string prefix = folder + kPathSeparator;
        for (const auto& [path, content] : files)
            if (path.starts_with(prefix) && path.find(kPathSeparator, prefix.size()) == std::string::npos)
                names.push_back(path.substr(prefix.size()));
        return names;
    }

private:
    bool alive() const {
        if (changesLeft == 0)
            throw Killed{};
        return true;
    }
    void change() {
        alive();
        if (changesLeft > 0 && --changesLeft == 0)
            throw Killed{};
    }
    FileHandle open(const std::string& path) {
        handles_.push_back(path);
        return static_cast<FileHandle>(handles_.size() - 1);
    }
    std::vector<std::string> handles_;
    std::set<std::string> locks_;
};

}  // namespace kestrel::test
