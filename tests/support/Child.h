#pragma once
// A child process with its output in a file, POSIX only; killed if the test
// ends early.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {

class Child {
public:
    // fileSizeLimit: the largest file the child may write (ulimit -f), a
    // write past it failing with EFBIG rather than ending the child; 0: none.
    Child(std::vector<std::string> argv, const std::filesystem::path& cwd, const std::filesystem::path& out,
          bool offscreen, rlim_t fileSizeLimit = 0) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(cwd.c_str()) != 0)
                _exit(127);
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            if (fileSizeLimit) {
                signal(SIGXFSZ, SIG_IGN);  // kept across exec
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                    _exit(127);
            }
            if (offscreen)
                setenv("QT_QPA_PLATFORM", "offscreen", 1);
            std::vector<char*> args;
            for (auto& a : argv)
                args.push_back(a.data());
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
        if (pid_ <= 0)
            return false;
        int st;
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            status_ = st;
            pid_ = -1;
        }
        return pid_ > 0;
    }
    // Sends SIGTERM and waits up to ten seconds; the exit status or -1.
    int terminate() {
        if (pid_ > 0)
            kill(pid_, SIGTERM);
        return waitExit(std::chrono::seconds(10));
    }
    // Waits up to bound for the process to end; the exit status, or -1 while it runs.
    int waitExit(std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (running())
            return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

}  // namespace kestrel::test
