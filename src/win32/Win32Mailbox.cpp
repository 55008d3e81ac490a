// The serial component's main-thread mailbox on Win32: a posted message wakes
// the main window to run the queued deliveries (see Win32Mailbox.h).

#include "win32/Win32Mailbox.h"

namespace kestrel {

TWin32Mailbox::~TWin32Mailbox() {
    if (ApplicationMailbox() == this)
        SetApplicationMailbox(nullptr);
}

void TWin32Mailbox::Wake() {
    HWND window = window_.load();
    if (!window)
        return;  // nothing to wake yet: ServiceUntil picks the delivery up
    // A full message queue would leave the event thread waiting for a pick-up
    // that no message announces: try again for a while.
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (PostMessageW(window, kMessage, 0, 0))
            return;
        if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA)
            return;  // the window is gone
        Sleep(10);
    }
}

}  // namespace kestrel
