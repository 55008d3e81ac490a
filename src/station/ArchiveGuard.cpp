// The archive guard: archive failures counted, shown and reported once,
// reception untouched (see ArchiveGuard.h).

#include "station/ArchiveGuard.h"

#include <algorithm>
#include <string>
#include <utility>

namespace kestrel {

void ArchiveGuard::logRawBytes(std::string_view chunk) {
    if (chunk.empty())
        return;
    try {
        archive_.appendRawBytes(chunk);
    } catch (const EInOutError& e) {
        unarchivedBytes_ += chunk.size() - std::min(e.BytesWritten, chunk.size());
        noteContinued();
        failed(rawByteLogFailing_, "RawByteLog", archive_.RawByteLogTarget(), e);
        showState();
        return;
    }
    noteContinued();
    if (rawByteLogFailing_) {
        rawByteLogFailing_ = false;
        showState();
    }
}

void ArchiveGuard::retryRawByteLog() {
    if (!archive_.rawByteLogOpen())
        archive_.retryRawByteLog();
}

void ArchiveGuard::noteContinued() {
    for (const LogContinued& c : archive_.takeContinued())
        continuation_.note(std::string(c.kind) + " " + c.from + " cannot grow (" + c.why + "): the record goes on in " +
                           c.to);
}

std::int64_t ArchiveGuard::noteReadTime() {
    const std::int64_t ms = archive_.noteReadTime();
    if (auto report = archive_.takeTimeIndexReport())
        continuation_.report(std::move(*report));
    return ms;
}

void ArchiveGuard::archiveBeacon(const BeaconRecord& record, const RawFrame& raw, const SystemTime& utc) {
    try {
        archive_.aSaveTempFileExecute(record, utc);
        noteContinued();
        textLogFailing_ = false;
    } catch (const EInOutError& e) {
        noteContinued();
        ++unarchivedBeacons_;
        failed(textLogFailing_, "BeaconTextLog", archive_.BeaconTextLogPath(), e);
        showState();
    }
    try {
        archive_.aSaveBinFileExecute(raw, utc);
        rawFrameFileFailing_ = false;
    } catch (const EInOutError& e) {
        failed(rawFrameFileFailing_, "RawFrameFile", archive_.RawFrameFileTarget(), e);
        showState();
    }
}

void ArchiveGuard::failed(bool& failing, const char* kind, const std::string& path, const EInOutError& error) {
    if (std::exchange(failing, true))
        return;
    continuation_.report(std::string(kind) + (path.empty() ? "" : " " + path) + " not written: " + error.what());
}

void ArchiveGuard::showState() {
    std::string text;
    if (unarchivedBytes_ || unarchivedBeacons_) {
        text = "Unsaved " + std::to_string(unarchivedBytes_) + " B";
        if (unarchivedBeacons_)
            text += ", " + std::to_string(unarchivedBeacons_) + " bcn";
    }
    display_.post(StatusSource::Archive, std::move(text));
}

}  // namespace kestrel
