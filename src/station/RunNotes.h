#pragma once
// What start-up and shut-down have to say, as texts: the settings file's
// fallbacks, a second program on the station folder, a folder nothing can be
// written to, the last run's shut-down failures; and a shut-down step that
// reports nothing on screen. The station shows and writes them down.

#include "station/Notices.h"
#include "station/StationLog.h"
#include "telemetry/StationLock.h"

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// How the station log tells a shut-down step that failed (ShutDownStep).
inline constexpr std::string_view kFailedAtShutDown = " failed at shut-down";

// Shut-down reports nothing on screen; what failed is still written down.
template <class F>
void ShutDownStep(Notices& notices, const std::string& what, F&& step) noexcept {
    try {
        try {
            step();
        } catch (const std::exception& e) {
            notices.say(what + std::string(kFailedAtShutDown) + ": " + e.what());
        } catch (...) {
            notices.say(what + std::string(kFailedAtShutDown));
        }
    } catch (...) {
    }
}

// A status panel's text and its tooltip.
struct PanelNote {
    std::string text, tip;
};

// What the settings file holds that is not used as written: the first note
// and how many more, every note in the tooltip. None without notes.
std::optional<PanelNote> SettingsFallbackNote(const std::vector<std::string>& notes);
// A second program on one station folder receives, archives under names of
// its own and forwards through an outbox of its own (outboxPath, empty when it
// does not forward); the clean-up of temporaries is left to a program alone
// on the folder.
std::optional<std::string> SecondProgramNote(const StationLock& lock, const std::string& baseDirectory,
                                             const std::string& outboxPath);
// A folder where nothing can be made (a launcher's "/", a read-only folder),
// with the system's reason; none when the lock could be taken.
std::optional<std::string> UnwritableFolderNote(const StationLock& lock, const std::string& baseDirectory);
// The last run's shut-down failures, as its log has them, for the tooltip of
// "Exit failed"; none when there were none.
std::optional<std::string> LastExitFailures(const StationLog& log);

}  // namespace kestrel
