#pragma once
// The main-thread mailbox of the serial component on Win32: Wake() posts a
// message to the main window, whose handler runs the queued deliveries.

#include "serial/MainThreadMailbox.h"

#include <windows.h>

#include <atomic>

namespace kestrel {

class TWin32Mailbox : public MainThreadMailbox {
public:
    static constexpr UINT kMessage = WM_APP + 1;

    TWin32Mailbox() = default;
    ~TWin32Mailbox() override;

    // The window whose procedure calls ServicePending() on kMessage.
    void SetWindow(HWND window) { window_.store(window); }

protected:
    void Wake() override;

private:
    std::atomic<HWND> window_{nullptr};
};

}  // namespace kestrel
