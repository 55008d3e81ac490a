#pragma once
// The line the port tests run on. Whatever stands behind it offers:
//   PortName()           the name TComPort::SetPort takes
//   Send(bytes)          the far end sends
//   Receive(n, limit)    what the far end got, up to n bytes within limit
//   HangUp()             the far end goes away (where the line can)
//   TestLineUnavailable(line)  why the tests must skip, or empty
// On POSIX it is a pseudo-terminal (Pty.h); on Windows a wired COM port pair
// (ComLineWin32.h).

#if defined(_WIN32)
#include "support/ComLineWin32.h"
#else
#include "support/Pty.h"
namespace kestrel::test {
using TestLine = Pty;
// Why the line cannot be used (empty: it can); a pseudo-terminal always can.
inline std::string TestLineUnavailable(const TestLine&) { return {}; }
}  // namespace kestrel::test
#endif

#if defined(_WIN32)
#include <windows.h>
#else
#include <ctime>
#endif

namespace kestrel::test {

// CPU time the whole process has used so far, in seconds.
inline double processCpuSeconds() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
#endif
}

}  // namespace kestrel::test
