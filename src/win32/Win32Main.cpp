// The program entry of the Windows build: creates the main window (which runs
// start-up) and runs the message loop until the window is closed.

#include "win32/Win32CommandLine.h"
#include "win32/Win32Form.h"
#include "win32/Win32Report.h"
#include "win32/Win32Util.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    int answered = 0;
    if (kestrel::AnswerWin32CommandLine(answered))  // --help, --version or a refusal
        return answered;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    kestrel::InstallWin32Report();
    int exitCode = 0;
    try {
        kestrel::TForm1 Form1(instance);
        if (!Form1.Engine().Closed()) {  // a close during start-up already ran shut-down
            Form1.Show(showCommand);
            exitCode = kestrel::win32::RunMessageLoop([&](MSG& msg) { return Form1.PreTranslate(msg); });
        }
    } catch (...) {
        kestrel::ShowCurrentException();
        exitCode = 1;
    }
    kestrel::RemoveWin32Report();
    return exitCode;
}
