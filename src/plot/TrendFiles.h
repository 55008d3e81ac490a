#pragma once
// Opening beacons for the trend window from files: an archive folder (the one
// holding Telemetry/, Telemetry/ itself or its Decoded/ folder), one
// BeaconTextLog, or a CSV that kestrel-redecode --csv wrote. Files are read
// piece by piece, so a year of beacons never sits in memory as text.

#include "plot/TrendView.h"

#include <cstddef>
#include <filesystem>
#include <string>

namespace kestrel::plot {

struct TrendLoad {
    std::size_t beacons = 0;  // added
    std::size_t skipped = 0;  // lines that are no beacon
    // Why something could not be read, for the status bar ("" when all was).
    std::string problem;
};

// Whatever `path` is of the above; the view is told once at the end.
TrendLoad openTrendPath(TrendView& view, const std::filesystem::path& path);
// The BeaconTextLogs below an archive folder, in name (= time) order; all
// but `except` when it names one (a run's own log, whose beacons come live).
TrendLoad openTrendArchive(TrendView& view, const std::filesystem::path& dir, const std::filesystem::path& except = {});
// One BeaconTextLog or beacon CSV, told apart by their first line.
TrendLoad openTrendFile(TrendView& view, const std::filesystem::path& file);

// The folder holding the settings file beside an archive path: the folder
// that holds Telemetry/ (for Telemetry/ or Telemetry/Decoded/, the one above).
std::filesystem::path stationFolderOf(const std::filesystem::path& path);

}  // namespace kestrel::plot
