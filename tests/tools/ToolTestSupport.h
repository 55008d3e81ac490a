#pragma once
// Shared pieces of the tool tests: child processes, bounded waits, and the
// decoder's end of a simulated line.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <poll.h>
#include <termios.h>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../telemetry/TestSupport.h"  // readFile

namespace kestrel::test {

namespace fs = std::filesystem;

// A child process with its output in a file; killed if the test ends early.
class Child {
public:
    Child(std::vector<std::string> argv, const fs::path& cwd, const fs::path& out, bool offscreen) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(cwd.c_str()) != 0) _exit(127);
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            if (offscreen) setenv("QT_QPA_PLATFORM", "offscreen", 1);
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The process id while it runs, -1 after it ended.
    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ <= 0) return false;
        int st;
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            status_ = st;
            pid_ = -1;
        }
        return pid_ > 0;
    }
    // Sends SIGTERM and waits up to ten seconds; the exit status or -1.
    int terminate() {
        if (pid_ > 0) kill(pid_, SIGTERM);
        return waitExit(std::chrono::seconds(10));
    }
    // Waits up to bound for the process to end; the exit status, or -1 while it runs.
    int waitExit(std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (running()) return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

// The entries of a directory, sorted; none when it does not exist (yet).
inline std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> v;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        v.push_back(it->path());
    std::sort(v.begin(), v.end());
    return v;
}

template <typename Pred>
inline bool waitFor(Pred pred, std::chrono::seconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A fresh directory of its own under the temp directory, removed afterwards.
class Scratch {
public:
    explicit Scratch(const std::string& prefix) {
        std::string templ = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp " + templ);
        dir = templ;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
};

// Plays the decoder: opens the pty slave and sets it the way a port does.
inline int openAsDecoder(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return fd;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Reads from fd until want bytes arrived or the bound passed.
inline std::string readFor(int fd, std::size_t want, std::chrono::seconds bound = std::chrono::seconds(5)) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[512];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

}  // namespace kestrel::test
