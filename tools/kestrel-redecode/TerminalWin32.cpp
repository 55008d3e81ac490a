// kestrel-redecode's console on Windows: the arguments as the system has them
// (UTF-16, wmain), so a file named in any script opens whatever the code
// page; UTF-8 inside and on the console.

#include "Terminal.h"

#include "Utf16Win32.h"

#include <cstdio>
#include <cstdlib>

#include <io.h>

// cmd.exe hands a wildcard such as Decoded\KR7_beacon_*.txt over as typed;
// the runtime expands it, as a Unix shell does.
extern "C" {
int _dowildcard = -1;
}

namespace kestrel::redecode {
namespace {

UINT gConsoleOutput = 0;

// The console's code page as it was before: it is the console's, not ours.
void restoreConsole() { SetConsoleOutputCP(gConsoleOutput); }

}  // namespace

bool errorStreamIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace kestrel::redecode

int wmain(int argc, wchar_t** argv) {
    // The summaries name files in UTF-8: the console shows them so.
    if ((kestrel::redecode::gConsoleOutput = GetConsoleOutputCP()) != 0 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(kestrel::redecode::restoreConsole);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(kestrel::toUtf8(argv[i]));
    return kestrel::redecode::commandLineMain(args);
}
