// What the station says at start-up, and the last run's shut-down failures
// on the status bar until clicked or a minute has passed (see Station.h).

#include "station/Station.h"

#include "station/RunNotes.h"

#include <utility>

namespace kestrel {

// Said at start-up: what the settings file holds that is not used as written
// stays on the status bar until the operator sets the port up; a second
// program on the folder, a folder nothing can be written to and why --station
// could not enter the station folder (startProblem) are reported;
// the last run's shut-down failures stay until clicked or a minute has passed.
void Station::noteStartUp(std::string startProblem) {
    if (auto unwritable = UnwritableFolderNote(stationLock_, baseDirectory_)) {
        // Why --station could not enter the station folder explains it: one box.
        continuation_.report(startProblem.empty() ? std::move(*unwritable)
                                                  : std::move(startProblem) + ". " + *unwritable);
        guard_.failingFromStart();  // what the archive loses after this is counted in its panel
    } else {
        if (!startProblem.empty())
            continuation_.report(std::move(startProblem));
        if (!log_.problem().empty())
            continuation_.report(log_.problem());
    }
    for (const std::string& note : CPort.SettingsFileNotes())
        notices_.say(std::string(kSettingsFileName) + ": " + note);
    if (auto fallback = SettingsFallbackNote(CPort.SettingsFileNotes()))
        display_.post(StatusSource::Settings, std::move(fallback->text), std::move(fallback->tip));
    if (auto second =
            SecondProgramNote(stationLock_, baseDirectory_, share_.Forwarding() ? share_.OutboxPath() : std::string()))
        continuation_.report(std::move(*second));
}

void Station::showLastExit() {
    if (auto failures = LastExitFailures(log_)) {
        display_.post(StatusSource::LastExit, kLastExitText, *failures + "\n(Click to dismiss.)");
        lastExitShownAt_ = clock_.tickCount();
    }
}

void Station::dismissLastExit() {
    lastExitShownAt_.reset();
    display_.post(StatusSource::LastExit, {});
}

void Station::statusPanelClicked(int panel) {
    if (display_.shownSource(panel) == StatusSource::LastExit)
        dismissLastExit();
    flushDisplay();
}

}  // namespace kestrel
