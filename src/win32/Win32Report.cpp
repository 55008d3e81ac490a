// The Win32 presenter of the application's report and the modal-loop count
// (see Win32Report.h).

#include "win32/Win32Report.h"

#include "Utf16Win32.h"
#include "Version.h"
#include "station/Report.h"
#include "win32/Win32Util.h"

namespace kestrel {
namespace {

HWND gOwner = nullptr;

HWND BoxOwner() {
    // Over the dialog when one is up, so that the box is modal to it.
    HWND active = GetActiveWindow();
    if (active && IsWindowEnabled(active))
        return active;
    return gOwner && IsWindow(gOwner) ? gOwner : nullptr;
}

void PresentBox(TMessageKind kind, const std::string& text) {
    const UINT icon = kind == TMessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    // The report's text is UTF-8, like the paths it names.
    MessageBoxW(BoxOwner(), toUtf16(text).c_str(), win32::Widen(kApplicationTitle).c_str(), MB_OK | icon);
}

BOOL CALLBACK DismissDialog(HWND window, LPARAM) {
    wchar_t name[16] = {};
    // Message boxes and the setup dialog are dialogs of the system's class.
    if (GetClassNameW(window, name, 16) && lstrcmpW(name, L"#32770") == 0)
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

// WM_CLOSE (taskkill) goes to every top-level window, the box that is up
// first: by the time it is dismissed the main window's close waits in the
// queue, and must win over the next report.
bool ClosePending() {
    MSG msg;
    return gOwner && PeekMessageW(&msg, gOwner, WM_CLOSE, WM_CLOSE, PM_NOREMOVE);
}

}  // namespace

void InstallWin32Report() {
    InstallApplicationReport(PresentBox);
    SetPendingCloseProbe(ClosePending);
}

void RemoveWin32Report() {
    SetPendingCloseProbe(nullptr);
    InstallApplicationReport(nullptr);
}

void SetReportOwner(HWND owner) { gOwner = owner; }

void DismissModals() { EnumThreadWindows(GetCurrentThreadId(), DismissDialog, 0); }

}  // namespace kestrel
