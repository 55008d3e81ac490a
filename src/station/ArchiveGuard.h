#pragma once
// The archive as the receive path writes to it: a failure never ends
// reception. Each file's failure (the RawByteLog, the BeaconTextLog, a
// RawFrameFile) is reported once, naming the file, until writing it works
// again; a later failure is a new episode and reported again. What was not
// archived is counted and shown in the status bar ("Unsaved 4096 B, 3 bcn").
// A log that goes on in a new piece loses nothing: that is written down once
// (the station log), not shown in a box.

#include "station/Continuation.h"
#include "station/DisplayQueue.h"
#include "telemetry/Archive.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/InOutError.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

class ArchiveGuard {
public:
    ArchiveGuard(Archive& archive, DisplayQueue& display, Continuation& continuation)
        : archive_(archive), display_(display), continuation_(continuation) {}

    // A chunk read from the line into the RawByteLog, in one write; what a
    // failing or short write did not store is counted byte for byte.
    void logRawBytes(std::string_view chunk);
    // A RawByteLog that could not be created is tried again.
    void retryRawByteLog();
    // A chunk read from the line: its time goes to the time index, whose
    // failure is reported once like the logs'. Returns the chunk's receive
    // time (Archive::noteReadTime).
    std::int64_t noteReadTime();

    // A decoded beacon, stamped with its receive time: its BeaconTextLog line,
    // then its RawFrameFile, each tried whatever became of the other.
    void archiveBeacon(const BeaconRecord& record, const RawFrame& raw, const SystemTime& utc);

    // Start-up said already that the folder cannot be written: until writing
    // works, failures are only counted, not reported again.
    void failingFromStart() { rawByteLogFailing_ = textLogFailing_ = rawFrameFileFailing_ = true; }

    std::uint64_t unarchivedBytes() const { return unarchivedBytes_; }
    std::uint32_t unarchivedBeacons() const { return unarchivedBeacons_; }

private:
    // The report of a failing file, once per episode: kind, path and reason.
    void failed(bool& failing, const char* kind, const std::string& path, const EInOutError& error);
    void showState();
    void noteContinued();

    Archive& archive_;
    DisplayQueue& display_;
    Continuation& continuation_;
    bool rawByteLogFailing_ = false;
    bool textLogFailing_ = false;
    bool rawFrameFileFailing_ = false;
    std::uint64_t unarchivedBytes_ = 0;
    std::uint32_t unarchivedBeacons_ = 0;
};

}  // namespace kestrel
