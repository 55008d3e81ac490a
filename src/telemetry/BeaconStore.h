#pragma once
// Where the decoder stores each decoded beacon: the archive in the program,
// a fake in tests.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

namespace kestrel {

class IBeaconStore {
public:
    virtual ~IBeaconStore() = default;
    // Appends the beacon's line to the BeaconTextLog; utc: its receive time.
    virtual void aSaveTempFileExecute(const BeaconRecord& currentRecord, const SystemTime& utc) = 0;
    // Writes the beacon's RawFrameFile, named by its receive time.
    virtual void aSaveBinFileExecute(const RawFrame& rawFrameCopy, const SystemTime& utc) = 0;
};

}  // namespace kestrel
