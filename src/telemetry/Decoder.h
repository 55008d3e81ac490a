#pragma once
// The decoder: counts each found beacon and hands back its readable lines for
// the decoded-info pane. Archiving and showing them are its caller's.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// The pane's lines for one beacon: 21 lines with GPS off, 25 with GPS on.
std::vector<std::string> decodedInfoLines(const BeaconRecord& record, std::uint32_t beaconCounter,
                                          const SystemTime& localTime);

class Decoder {
public:
    explicit Decoder(IClock& clock) : clock_(clock) {}

    // Counts one beacon received at utc and returns the pane's lines for it
    // (the time shown in local time).
    std::vector<std::string> aDecodeTelemetry1Execute(const BeaconRecord& currentRecord, const SystemTime& utc);

    // Beacons decoded since the program started; nothing resets it.
    std::int32_t BeaconCounter() const { return beaconCounter_; }

private:
    IClock& clock_;
    std::int32_t beaconCounter_ = 0;
};

}  // namespace kestrel
