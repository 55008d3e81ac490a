#pragma once
// What kestrel-redecode's two ways into a tree share: the receive time as the
// archive's clock, and a BeaconTextLog cut back after a line that failed.

#include "telemetry/Clock.h"

#include <string>

namespace kestrel::redecode {

// The receive time of the bytes being decoded: set from the time index as the
// bytes pass its entries, or to a pooled beacon's time; fixed otherwise.
class ReceiveClock final : public IClock {
public:
    explicit ReceiveClock(const SystemTime& t) : t_(t) {}
    void set(const SystemTime& t) { t_ = t; }
    SystemTime utcNow() override { return t_; }
    SystemTime localNow() override { return t_; }
    SystemTime localTime(const SystemTime& utc) override { return utc; }
    std::uint32_t tickCount() override { return 0; }

private:
    SystemTime t_;
};

// A BeaconTextLog whose last line could not be written whole ends at its last
// whole line; one left with no beacon line at all goes.
void cutBackToWholeLines(const std::string& path);

}  // namespace kestrel::redecode
