#pragma once
// The decoder: counts each found beacon, shows it as readable lines in the
// decoded-info pane, then has the store archive it (text line first, raw frame
// second).

#include "telemetry/BeaconFrame.h"
#include "telemetry/BeaconStore.h"
#include "telemetry/Clock.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

class IDecodedInfoPane {
public:
    virtual ~IDecodedInfoPane() = default;
    // Replaces everything the pane shows with these lines.
    virtual void showDecodedInfo(const std::vector<std::string>& lines) = 0;
};

// The pane's lines for one beacon: 21 lines with GPS off, 25 with GPS on.
std::vector<std::string> decodedInfoLines(const BeaconRecord& record, std::uint32_t beaconCounter,
                                          const SystemTime& localTime);

class Decoder {
public:
    Decoder(IClock& clock, IDecodedInfoPane& pane, IBeaconStore& store) : clock_(clock), pane_(pane), store_(store) {}

    // Decodes one beacon received at utc (shown in local time, stored with
    // utc). Errors of the store go on to the caller; the beacon is counted and
    // shown by then.
    void aDecodeTelemetry1Execute(const BeaconRecord& currentRecord, const RawFrame& rawFrameCopy,
                                  const SystemTime& utc);

    // Beacons decoded since the program started; nothing resets it.
    std::int32_t BeaconCounter() const { return beaconCounter_; }

private:
    IClock& clock_;
    IDecodedInfoPane& pane_;
    IBeaconStore& store_;
    std::int32_t beaconCounter_ = 0;
};

}  // namespace kestrel
