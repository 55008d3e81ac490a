// kestrel-trends.exe: the trend window on its own, opened on a station
// folder, a Telemetry or Decoded folder, a BeaconTextLog or a beacon CSV
// (default: the current folder); the program ends with the window.

#include "plot/TrendFiles.h"
#include "station/CommandLine.h"
#include "station/Report.h"
#include "win32/Win32CommandLine.h"
#include "win32/Win32Report.h"
#include "win32/Win32TrendWindow.h"
#include "win32/Win32Util.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // The arguments as the system has them (UTF-16), so that any folder name opens.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> wideArgs(argv ? argv + 1 : nullptr, argv ? argv + argc : nullptr);
    if (argv)
        LocalFree(argv);
    std::vector<std::string> args;
    for (const std::wstring& a : wideArgs)
        args.push_back(kestrel::win32::Narrow(a));  // only to tell the options
    std::string ignored;
    int exitCode = 0;
    if (kestrel::ShowWin32CommandLineAnswer(kestrel::ReadTrendsCommandLine(args, ignored), exitCode))
        return exitCode;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    kestrel::InstallWin32Report();
    try {
        kestrel::TWin32TrendWindow window(instance, true);
        kestrel::SetReportOwner(window.Handle());
        window.open(wideArgs.empty() ? std::filesystem::current_path() : std::filesystem::path(wideArgs[0]));
        window.Show(showCommand);
        exitCode = kestrel::win32::RunMessageLoop([&](MSG& msg) { return window.PreTranslate(msg); });
    } catch (...) {
        kestrel::ShowCurrentException();
        exitCode = 1;
    }
    kestrel::RemoveWin32Report();
    return exitCode;
}
