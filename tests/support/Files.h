#pragma once
// Scratch directories and whole-file reads and writes.

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kestrel::test {

namespace fs = std::filesystem;

// A fresh directory below the system's temporary folder, removed afterwards.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "kestrel-test") {
        static std::atomic<unsigned> serial{0};
        std::random_device rd;
        do
            path_ = fs::temp_directory_path() / (prefix + "-" + std::to_string(rd()) + "-" + std::to_string(serial++));
        while (!fs::create_directory(path_));
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    // Left in place for a look afterwards.
    void keep() { path_.clear(); }

private:
    fs::path path_;
};

// A scratch directory that is the current directory while it lives.
class WorkingDir : public ScratchDir {
public:
    WorkingDir() : previous_(fs::current_path()) { fs::current_path(path()); }
    ~WorkingDir() {
        std::error_code ec;
        fs::current_path(previous_, ec);
    }

private:
    fs::path previous_;
};

// A read that fails part-way (a /proc file whose process just ended) gives
// what was read so far.
inline std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(in), {});
    } catch (const std::ios_base::failure&) {
    }
    return text;
}

inline void writeFile(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// How often needle occurs in text.
inline std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + needle.size()))
        ++n;
    return n;
}

// The entries of a directory, sorted; none when it does not exist (yet).
inline std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> v;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        v.push_back(it->path());
    std::sort(v.begin(), v.end());
    return v;
}

// The RawByteLogs below a Telemetry folder (raw_log/*.KR7), without the time
// indexes beside them.
inline std::vector<fs::path> rawByteLogsIn(const fs::path& telemetry) {
    std::vector<fs::path> v = filesIn(telemetry / "raw_log");
    std::erase_if(v, [](const fs::path& p) { return p.extension() != ".KR7"; });
    return v;
}

}  // namespace kestrel::test
