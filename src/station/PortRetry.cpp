// Lost-port retry: closing, reporting and reopening a serial port that went
// away (see PortRetry.h).

#include "station/PortRetry.h"

#include <string>

namespace kestrel {

void PortRetry::lost() {
    lost_ = true;
    ++losses_;
    try {
        port_.ClosePort();  // releases the dead device, so it can come back under its name
    } catch (...) {
    }
    display_.post(StatusSource::Line, losses_ > 1 ? "Port lost (" + std::to_string(losses_) + ")" : "Port lost");
    continuation_.report("Port " + port_.Port() + " lost; trying to reopen it every " + std::to_string(kRetryTicks) +
                         " s");
}

void PortRetry::tick(bool retryDue) {
    // The event thread ended on a hang-up, or the device stopped answering
    // (Windows: an unplugged adapter fails its status calls).
    if (!lost_ && port_.Connected() &&
        ((port_.EventThreadRunning() && !port_.EventThreadActive()) || port_.DeviceGone())) {
        lost();
        return;
    }
    if (!lost_ || !retryDue)
        return;
    try {
        port_.OpenPort();
    } catch (...) {
    }
    if (!port_.Connected())
        return;  // quietly: the next try comes in kRetryTicks
    lost_ = false;
    display_.post(StatusSource::Line, "Port back (lost " + std::to_string(losses_) + ")");
}

void PortRetry::cancel() {
    if (!lost_)
        return;
    lost_ = false;
    display_.post(StatusSource::Line, {});
}

}  // namespace kestrel
