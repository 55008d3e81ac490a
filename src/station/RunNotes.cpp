// What start-up and shut-down have to say (see RunNotes.h).

#include "station/RunNotes.h"

#include "station/DisplayQueue.h"
#include "station/StationFolder.h"
#include "telemetry/FileSystem.h"

namespace kestrel {

std::optional<PanelNote> SettingsFallbackNote(const std::vector<std::string>& notes) {
    if (notes.empty())
        return std::nullopt;
    PanelNote note{"Settings: " + notes.front(), notes.size() > 1 ? JoinLines(notes) : std::string()};
    if (notes.size() > 1)
        note.text += " (and " + std::to_string(notes.size() - 1) + " more)";
    return note;
}

std::optional<std::string> SecondProgramNote(const StationLock& lock, const std::string& baseDirectory,
                                             const std::string& outboxPath) {
    if (!lock.shared())
        return std::nullopt;
    std::string text = "Another program is using the station folder " + baseDirectory +
                       ". This one archives in its Telemetry folder under names of its own";
    return text + (outboxPath.empty() ? "." : " and forwards its beacons through " + outboxPath + ".");
}

// Otherwise the beacons would only be shown, and the first lost byte would
// say no more than an error number.
std::optional<std::string> UnwritableFolderNote(const StationLock& lock, const std::string& baseDirectory) {
    if (lock.state() != StationLock::State::Unusable)
        return std::nullopt;
    std::string where = baseDirectory;
    std::string why = FolderWriteProblem(where);
    if (why.empty()) {  // then it is the Telemetry folder (a file in its place, say)
        where = JoinPath(baseDirectory, "Telemetry");
        why = FolderWriteProblem(where);
    }
    if (why.empty())
        why = lock.why();
    // Started from the menu, "start it from the menu" would send the operator
    // back where they are: the station folder itself must be mended.
    const std::string station = StartedForStationFolder() ? PersonalStationFolder() : std::string();
    const std::string advice =
        !StartedForStationFolder() ? "start the program in a folder you can write to, or from the menu"
        : station.empty()
            ? "start the program from a terminal in a folder you can write to"
            : "make " + station + " a folder you can write to (or free its disk) and start the program again";
    return "Nothing received is archived in " + where + " (" + why + "): " + advice;
}

// Whoever starts the program next sees that the settings (or the logs) may
// not be as they were.
std::optional<std::string> LastExitFailures(const StationLog& log) {
    std::string failures;
    for (const std::string& line : log.previousRun()) {
        if (StationLogText(line).find(kFailedAtShutDown) == std::string_view::npos)
            continue;
        failures += failures.empty() ? "At the last shut-down (" + log.path() + "):\n" : "\n";
        failures += line;
    }
    if (failures.empty())
        return std::nullopt;
    return failures;
}

}  // namespace kestrel
