#pragma once
// The Windows program run under Wine on a virtual display, with its COM7 a
// pseudo-terminal whose other end this side holds: for the window tests and
// the Wine receive-rate bench. scripts/test-stages/31-windows-gui.sh sets the
// environment: KESTREL_WIN_EXE (the program), KESTREL_COM_PEER_PATH (the
// native end of COM7's line), KESTREL_MODEM_SHIM (preloaded into Wine, as pty
// lines have no modem signals), WINEPREFIX and DISPLAY.

#include "support/Child.h"
#include "support/Files.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {

struct WineLine {
    std::string exe, peerPath, shim, prefix;

    static std::optional<WineLine> fromEnvironment() {
        WineLine l;
        for (auto [name, value] :
             {std::pair{"KESTREL_WIN_EXE", &l.exe}, std::pair{"KESTREL_COM_PEER_PATH", &l.peerPath},
              std::pair{"KESTREL_MODEM_SHIM", &l.shim}, std::pair{"WINEPREFIX", &l.prefix}}) {
            const char* v = std::getenv(name);
            if (!v || !*v)
                return std::nullopt;
            *value = v;
        }
        return l;
    }
};

// Runs a shell command; its output without the trailing line break.
inline std::string shell(const std::string& command, int* status = nullptr) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        std::array<char, 4096> buf;
        for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;)
            out.append(buf.data(), n);
        const int rc = pclose(p);
        if (status)
            *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    } else if (status) {
        *status = -1;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// The first visible window whose title matches the regular expression, or ""
// when none shows within the bound. One search at a time: xdotool gives up a
// search when a window it looks at goes away meanwhile, as Wine's hidden
// windows do while a program starts.
inline std::string waitForWindow(const std::string& titleRegex, int seconds = 30) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const std::string ids = shell("xdotool search --onlyvisible --name '" + titleRegex + "' 2>/dev/null");
        if (!ids.empty() || std::chrono::steady_clock::now() > until)
            return ids.substr(0, ids.find('\n'));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

inline bool windowShows(const std::string& titleRegex) {
    return !shell("xdotool search --onlyvisible --name '" + titleRegex + "' 2>/dev/null").empty();
}

// CPU seconds (user and system) of a process, 0 when it is gone.
inline double cpuSecondsOfPid(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    const char* p = stat.c_str() + close + 1;
    double ticks = 0;
    for (int field = 3; field <= 15 && *p; ++field) {
        while (*p == ' ')
            ++p;
        if (field >= 14)
            ticks += static_cast<double>(std::strtoull(p, nullptr, 10));
        while (*p && *p != ' ')
            ++p;
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds (user and system) of this prefix's Wine processes, split into
// the program (the process running `image`), the Wine server, and the rest of
// the prefix (explorer, services...); and of the X server whose process id
// the stage exports as KESTREL_X_SERVER_PID (0 without one).
struct WineCpu {
    double program = 0, server = 0, otherWine = 0, xServer = 0;
    WineCpu operator-(const WineCpu& o) const {
        return {program - o.program, server - o.server, otherWine - o.otherWine, xServer - o.xServer};
    }
};

inline WineCpu wineCpuSeconds(const std::string& image) {
    WineCpu cpu;
    const char* prefix = std::getenv("WINEPREFIX");
    for (const auto& entry : filesIn("/proc")) {
        const std::string name = entry.filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = readFile(entry / "stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        const std::string comm = stat.substr(open + 1, close - open - 1);
        const std::string cmdline = readFile(entry / "cmdline");
        const bool wine = comm.rfind("wine", 0) == 0 || comm.find(".exe") != std::string::npos ||
                          cmdline.find(".exe") != std::string::npos;
        if (!wine)
            continue;
        const std::string env = readFile(entry / "environ");
        if (!prefix || env.find(std::string("WINEPREFIX=") + prefix + '\0') == std::string::npos)
            continue;
        const double seconds = cpuSecondsOfPid(static_cast<pid_t>(std::stol(name)));
        if (comm.rfind("wineserver", 0) == 0)
            cpu.server += seconds;
        else if (cmdline.find(image) != std::string::npos)
            cpu.program += seconds;
        else
            cpu.otherWine += seconds;
    }
    if (const char* x = std::getenv("KESTREL_X_SERVER_PID"); x && *x)
        cpu.xServer = cpuSecondsOfPid(std::atoi(x));
    return cpu;
}

// The program running in its own working directory.
class WineProgram {
public:
    static constexpr const char* kMainTitle = "^KESTREL telemetry decoder";

    // env: further NAME=value settings for it (a locale, say).
    WineProgram(const WineLine& line, const fs::path& workDir, std::vector<std::string> env = {})
        : image_(fs::path(line.exe).filename().string()),
          child_(command(line, std::move(env)), workDir, workDir.parent_path() / "program.out", false),
          out_(workDir.parent_path() / "program.out") {}

    // The main window's id once it shows (start-up has then run: files made,
    // port opened), or "".
    std::string waitForMainWindow() { return waitForWindow(kMainTitle); }
    bool running() { return child_.running(); }
    // Closes it as the system does (WM_CLOSE to its windows); the exit status,
    // or -1 when it does not end.
    int close() {
        shell("wine taskkill /im " + image_ + " >/dev/null 2>&1");
        return child_.waitExit(std::chrono::seconds(20));
    }
    std::string output() const { return readFile(out_); }
    // As kill -9 ends it: nothing of shut-down runs.
    void kill() {
        ::kill(child_.pid(), SIGKILL);
        child_.waitExit(std::chrono::seconds(10));
    }

private:
    static std::vector<std::string> command(const WineLine& line, std::vector<std::string> env) {
        env.insert(env.begin(), {"/usr/bin/env", "LD_PRELOAD=" + line.shim});
        env.insert(env.end(), {"wine", line.exe});
        return env;
    }

    std::string image_;
    Child child_;
    fs::path out_;
};

}  // namespace kestrel::test
