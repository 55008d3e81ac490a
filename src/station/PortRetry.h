#pragma once
// A serial port that went away (unplugged adapter, hang-up) is closed at once,
// so the device can come back under its name, reported once, shown as "Port
// lost" and opened again with the same settings, quietly, until it is back or
// the operator chooses a port in Settings. The status bar counts the losses
// ("Port lost (2)", "Port back (lost 2)"): each one lost what came meanwhile.

#include "serial/CPort.h"
#include "station/Continuation.h"
#include "station/DisplayQueue.h"

namespace kestrel {

class PortRetry {
public:
    // How often a lost port is tried again, in one-second trim ticks.
    static constexpr int kRetryTicks = 2;

    PortRetry(TComPort& port, DisplayQueue& display, Continuation& continuation)
        : port_(port), display_(display), continuation_(continuation) {}

    // The device went away under a read, or its event thread ended.
    void lost();
    // One trim tick: notices a port whose event thread has ended (the port
    // itself would stay "open" on a dead handle); retryDue: tries to reopen.
    void tick(bool retryDue);
    // The operator's choice replaces the waiting.
    void cancel();
    bool isLost() const { return lost_; }
    int losses() const { return losses_; }

private:
    TComPort& port_;
    DisplayQueue& display_;
    Continuation& continuation_;
    bool lost_ = false;
    int losses_ = 0;  // since start-up
};

}  // namespace kestrel
