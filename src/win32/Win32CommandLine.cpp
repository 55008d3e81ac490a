// The Windows programs' command-line answers (see Win32CommandLine.h).

#include "win32/Win32CommandLine.h"

#include "Version.h"
#include "station/CommandLine.h"
#include "station/StationFolder.h"
#include "win32/Win32Util.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kestrel {

namespace {

// A GUI program has no console: the text goes where the caller redirected
// the output (a pipe or a file, as scripts do); started from Explorer, a
// shortcut or a console without redirection, a message box shows it.
HANDLE RedirectedOutput(DWORD which) {
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) == FILE_TYPE_UNKNOWN)
        return nullptr;
    return h;
}

// A message box wraps lines itself: a line that goes on in the next one (which
// starts in lower case) becomes one long line.
std::string Unwrapped(const std::string& text) {
    std::string box = text;
    for (std::size_t i = 1; i + 1 < box.size(); ++i)
        if (box[i] == '\n' && box[i - 1] != '\n' && box[i + 1] >= 'a' && box[i + 1] <= 'z')
            box[i] = ' ';
    return box;
}

}  // namespace

bool AnswerWin32CommandLine(int& exitCode) {
    const std::vector<std::string> args(__argv + 1, __argv + __argc);
    const CommandLineAnswer answer = ReadDecoderCommandLine(args);
    if (answer.stationFolder)
        EnterPersonalStationFolder();  // what fails is reported at start-up
    return ShowWin32CommandLineAnswer(answer, exitCode);
}

bool ShowWin32CommandLineAnswer(const CommandLineAnswer& answer, int& exitCode) {
    if (answer.kind == CommandLineAnswer::Run)
        return false;
    exitCode = answer.exitCode;
    if (const HANDLE out = RedirectedOutput(exitCode == 0 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE)) {
        std::string text;
        for (const char c : answer.text) {
            if (c == '\n')
                text += '\r';
            text += c;
        }
        DWORD written = 0;
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        MessageBoxW(nullptr, win32::Widen(Unwrapped(answer.text)).c_str(), win32::Widen(kApplicationTitle).c_str(),
                    MB_OK | (exitCode == 0 ? MB_ICONINFORMATION : MB_ICONERROR));
    }
    return true;
}

}  // namespace kestrel
