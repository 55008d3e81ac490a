#pragma once
// The line pair the port tests run on: a pseudo-terminal on POSIX, a wired COM
// port pair on Windows. Both offer PortName(), Send() and Receive();
// TestLineUnavailable() says why a test must skip (empty: the line is there).

#ifdef _WIN32
#include "../win32/UnderWine.h"
#include "ComPairLine.h"
#else
#include "PtyLine.h"
#endif

#include <string>

namespace kestrel::test {

#ifdef _WIN32
using TestLine = ComPairLine;
inline std::string TestLineUnavailable(const TestLine& line) {
    return line.Ready() ? std::string() : line.WhyNotReady();
}
// A port name nothing answers to.
inline const char* const kMissingPortName = "KESTREL-NO-SUCH-PORT";
#else
using TestLine = PtyLine;
inline std::string TestLineUnavailable(const TestLine&) { return {}; }
inline bool RunningUnderWine() { return false; }
inline const char* const kMissingPortName = "/dev/kestrel-no-such-port";
#endif

}  // namespace kestrel::test
