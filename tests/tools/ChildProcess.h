#pragma once
// Child processes and bounded waits for the tests that run the built programs.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrel::test {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

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
        for (int i = 0; i < 200 && running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (running()) return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

template <typename Pred>
inline bool waitFor(Pred pred, std::chrono::seconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace kestrel::test
