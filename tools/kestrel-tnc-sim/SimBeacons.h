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
    uint32_t seed = 1;             // start of the jitter sequence; equal seeds, equal beacons
    uint32_t startFlightTime = 88760;  // FlightTime of the first beacon, seconds (in sunlight)
    unsigned noiseBytes = 0;       // up to this many random bytes after each beacon
    unsigned damagePercent = 0;    // share of beacons sent with a byte lost or added
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
};

}  // namespace kestrel::sim
