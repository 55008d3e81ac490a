#pragma once
// Forwarding of every beacon decoded live to the team's telemetry server or
// an open telemetry database, as the settings file's [Share] section says
// (ShareSettings.h). The station engine calls it; nothing here waits for the
// network (Forwarder.h).
//
// Files, below the BaseDirectory's Telemetry folder, each program's own
// (OutboxSlots.h; the first program's names, the others' carry their slot:
// outbox-2.txt):
//   share/outbox.txt   frames not yet taken by the server (Outbox.h)
//   share/rejects.txt  frames the server refused, with its answer, one a line
//   share/outbox-damaged.txt  outbox lines that were not records, copied aside

#include "share/Forwarder.h"
#include "share/ShareSettings.h"
#include "telemetry/Clock.h"
#include "telemetry/FileSystem.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class Share {
public:
    // Reads [Share] from the settings file and starts forwarding when it is
    // complete, through the outbox of the program's slot of the station
    // folder (StationLock::slot(); 0: none could be taken, and the first
    // slot's files are used), taking over what programs that ended left in
    // theirs. What keeps it from forwarding goes to the status text, and to
    // Settings().problem or the notices, which the station writes down.
    // Never throws. Called again (after Stop), it reads the section anew and
    // forwards as it says now.
    void Start(const std::string& settingsPath, const std::string& baseDirectory, int slot = 1,
               IFileSystem& fs = systemFileSystem(), IClock& clock = systemClock());
    // One beacon decoded live: the frame's bytes and when it was received.
    void Beacon(std::string_view frame, const SystemTime& utc);
    // Waits at most a second for a request in flight; runs once.
    void Stop();

    // For a status panel of 100 pixels: "Shared 120", "Queued 3",
    // "Share offline", "Share refused", "In memory 2" (frames the outbox
    // could not take), "Share: HTTP 404" or "Proxy: HTTP 407" (an answer
    // that keeps frames waiting until the settings or the way are mended),
    // a settings fault, or empty when nothing is configured.
    std::string StatusText() const;
    // The sentence behind it, for the panel's tooltip: what is wrong and
    // what to mend; empty when all is well.
    std::string StatusTip() const;
    // What the operator should be told, each once (see Forwarder).
    std::vector<std::string> TakeNotices();

    const ShareSettings& Settings() const { return settings_; }
    bool Forwarding() const { return forwarder_ != nullptr; }
    const std::string& OutboxPath() const { return outboxPath_; }

private:
    ShareSettings settings_;
    std::unique_ptr<Forwarder> forwarder_;
    std::string problem_;  // short, for the status panel
    std::string outboxPath_;
    std::vector<std::string> notices_;
};

}  // namespace kestrel
