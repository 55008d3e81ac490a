#pragma once
// Where the decoder stores each decoded beacon: the archive in the program,
// a fake in tests.

#include "telemetry/BeaconFrame.h"

namespace kestrel {

class IBeaconStore {
public:
    virtual ~IBeaconStore() = default;
    // Appends the beacon's line to the BeaconTextLog.
    virtual void aSaveTempFileExecute(const BeaconRecord& currentRecord) = 0;
    // Writes the beacon's RawFrameFile.
    virtual void aSaveBinFileExecute(const RawFrame& rawFrameCopy) = 0;
};

}  // namespace kestrel
