#pragma once
// What the simulated satellite says: beacons with telemetry that drifts the way
// a small satellite's does (sunlit and eclipse phases, a slow spin, an orbit),
// plus the line noise and damaged frames a real downlink brings.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Generator.h"

#include <cstdint>
#include <string>

namespace kestrel::sim {

struct BeaconOptions {
    uint32_t seed = 1;                 // start of the jitter sequence; equal seeds, equal beacons
    uint32_t startFlightTime = 88760;  // FlightTime of the first beacon, seconds (in sunlight)
    unsigned noiseBytes = 0;           // up to this many random bytes after each beacon
    unsigned damagePercent = 0;        // share of beacons sent with a byte lost or added
    // Every second beacon's telemetry holds 0xC0 and 0xDB (KISS's FEND and
    // FESC): Bz = -6.0 (bytes 00 00 C0 C0) and the eighth status byte 0xDB.
    bool escapeBytes = false;
};

class BeaconSource {
public:
    explicit BeaconSource(const BeaconOptions& options);

    // The record of a beacon sent t seconds after the first one.
    BeaconRecord record(double t);

    struct Transmission {
        BeaconRecord record;  // what the beacon carries
        std::string bytes;    // its frame, possibly damaged, then any noise
        bool damaged = false;
    };
    // One beacon at time t, as it goes onto the line.
    Transmission nextTransmission(double t);

private:
    uint32_t draw(uint32_t n) { return rng_.Random(n); }

    BeaconOptions options_;
    RandomSequence rng_;
    uint32_t sent_ = 0;
};

// What a software TNC hands out for a received packet, in KISS framing: one
// data frame for port 0 holding an AX.25 UI header (KR7 from KESTRL, noise
// to the frame finder) and the packet. With otherPorts, frames for other TNC
// ports (the same packet, which must not be decoded twice), command frames
// and garbage between frames come along.
class KissWrapper {
public:
    KissWrapper(bool otherPorts, uint32_t seed) : otherPorts_(otherPorts), rng_(seed) {}
    std::string wrap(const std::string& packet);

private:
    bool otherPorts_;
    RandomSequence rng_;
};

}  // namespace kestrel::sim
