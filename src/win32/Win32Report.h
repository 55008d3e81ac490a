#pragma once
// The Win32 presenter of the application's report: its boxes are MessageBox
// with the application's title (the queue is station/Report.h).

#include <windows.h>

namespace kestrel {

// Installs the presenter and the handler of what the port's event dispatch
// catches; owner: the main window (may be null until it exists).
void InstallWin32Report();
void RemoveWin32Report();
void SetReportOwner(HWND owner);

// Dismisses the message boxes and the dialog that are up (as Cancel).
void DismissModals();

}  // namespace kestrel
