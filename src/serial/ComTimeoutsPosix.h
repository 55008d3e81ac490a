#pragma once
// The Win32 read and write time-outs as limits on one transfer, worked out
// without touching a device, so the rules can be checked on their own.
// ComTimeoutsPosix.cpp waits for the tty with them.

#include <chrono>
#include <cstdint>

#include "serial/ComDevice.h"

namespace kestrel {

using ComClock = std::chrono::steady_clock;

// How the time-outs bound one read of `count` bytes. Win32's cases:
// MAXDWORD/0/0 returns at once with what is there; MAXDWORD/MAXDWORD/c waits
// up to c for the first byte and returns with it; otherwise a total limit
// (multiplier · count + constant, when either is set) and a limit on the gap
// after each byte (the interval, unless 0 or MAXDWORD).
struct ReadLimits {
    bool total = false;  // the read ends after totalMs at the latest
    uint64_t totalMs = 0;
    bool interval = false;  // the read ends intervalMs after a byte
    uint64_t intervalMs = 0;
    bool returnOnFirstByte = false;  // any byte ends the read
};

ReadLimits ReadLimitsFor(const ComTimeoutValues& timeouts, uint32_t count);

// When a read with these limits, begun at `start`, gives up: time_point::max()
// for never. `lastByte` is when its latest byte came, and counts only when
// some have (`done` > 0). Limits beyond a year are a year, so huge Win32
// values cannot overflow the clock.
ComClock::time_point ReadDeadline(const ReadLimits& limits, ComClock::time_point start, uint32_t done,
                                  ComClock::time_point lastByte);

// When a write of `count` bytes begun at `start` gives up: multiplier · count
// + constant, time_point::max() when both are 0.
ComClock::time_point WriteDeadline(const ComTimeoutValues& timeouts, uint32_t count, ComClock::time_point start);

}  // namespace kestrel
