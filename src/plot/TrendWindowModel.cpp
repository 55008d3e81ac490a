// The trend window's rules for every front end (see TrendWindowModel.h).

#include "plot/TrendWindowModel.h"

#include "share/ShareSettings.h"
#include "telemetry/BeaconTextLogReader.h"
#include "telemetry/FileSystem.h"

namespace kestrel::plot {

TrendView::Damage TrendWindowModel::addBeacon(const BeaconRecord& record, const SystemTime& utc, bool shown) {
    if (!view_.addBeacon(beaconLogEntry(record, utc)) || !shown)
        return {};
    return view_.takeDamage();
}

int TrendWindowModel::open(const std::filesystem::path& path) {
    const TrendLoad load = openTrendPath(view_, path);
    skipped_ += load.skipped;
    problem_ = load.problem;
    const ShareSettings sharing = ShareSettings::InFolder(utf8Of(stationFolderOf(path)));
    view_.setStation(sharing.hasPosition ? std::optional<GeoPoint>({sharing.latitude, sharing.longitude})
                                         : std::nullopt);
    return load.beacons == 0 && !load.problem.empty() ? -1 : static_cast<int>(load.skipped);
}

int TrendWindowModel::openEarlier(const std::filesystem::path& station, const std::filesystem::path& thisRunsLog) {
    std::error_code ec;
    if (!std::filesystem::is_directory(station / "Telemetry" / "Decoded", ec))
        return 0;  // a new station: nothing earlier, and nothing wrong
    const TrendLoad load = openTrendArchive(view_, station, thisRunsLog);
    skipped_ += load.skipped;
    problem_ = load.problem;
    return load.beacons == 0 && !load.problem.empty() ? -1 : static_cast<int>(load.skipped);
}

void TrendWindowModel::notSaved(const std::string& path, const std::string& why) {
    problem_ = "cannot write " + path + (why.empty() ? "" : ": " + why);
}

void TrendWindowModel::clear() {
    view_.clear();
    skipped_ = 0;
    problem_.clear();
}

std::string TrendWindowModel::statusText() const {
    std::string text = view_.statusText();
    if (skipped_ > 0)
        text += "; " + std::to_string(skipped_) +
                (skipped_ == 1 ? " unparseable line skipped" : " unparseable lines skipped");
    if (!problem_.empty())
        text += "; " + problem_;
    return text;
}

}  // namespace kestrel::plot
