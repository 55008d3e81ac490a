#pragma once
// The Win32 presenter of the application's report: its boxes are MessageBox
// with the application's title (the queue is station/Report.h). Also the count
// of modal loops that are up, so that a close request arriving meanwhile can
// wait until they are dismissed.

#include <windows.h>

namespace kestrel {

// Installs the presenter and the handler of what the port's event dispatch
// catches; owner: the main window (may be null until it exists).
void InstallWin32Report();
void RemoveWin32Report();
void SetReportOwner(HWND owner);

// Held while a modal loop (message box, setup dialog) runs on the main thread.
class TModalScope {
public:
    TModalScope();
    ~TModalScope();
    TModalScope(const TModalScope&) = delete;
    TModalScope& operator=(const TModalScope&) = delete;
    static int Depth();
};

// A close of window arrived while modal loops were up: dismisses them (as
// Cancel) and posts WM_CLOSE to window again once the last one has returned.
// No further box opens meanwhile.
void CloseAfterModals(HWND window);
bool CloseRequested();
// Dismisses the message boxes and the dialog that are up (as Cancel).
void DismissModals();

}  // namespace kestrel
