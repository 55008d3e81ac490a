#pragma once
// The trend window's rules for every front end: its view (plot/TrendView.h),
// what a live beacon repaints (nothing while the window is hidden), what was
// opened and skipped, where the station lies (the settings file of the folder
// opened), and the status line. A window draws the view, passes on its events
// and shows statusText(); nothing else is decided there.

#include "plot/TrendFiles.h"
#include "plot/TrendView.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrel::plot {

class TrendWindowModel {
public:
    TrendView& view() { return view_; }
    const TrendView& view() const { return view_; }

    // One beacon as it was decoded, received at `utc`. Hidden, the window only
    // keeps the sample: a live session must not pay for plots nobody looks at.
    // Shown, what to paint again: only the columns the beacon changed, or
    // nothing.
    TrendView::Damage addBeacon(const BeaconRecord& record, const SystemTime& utc, bool shown);
    // A station folder (the one holding Telemetry/), Telemetry/ or Decoded/,
    // one BeaconTextLog or a beacon CSV; the station's position then comes from
    // the settings file of the station folder it lies in (none without one).
    // Returns the lines skipped, -1 when nothing could be read.
    int open(const std::filesystem::path& path);
    // The station's beacons of earlier runs, beside those that came live: the
    // BeaconTextLogs below a station folder but this run's own (thisRunsLog).
    // Returns as open.
    int openEarlier(const std::filesystem::path& station, const std::filesystem::path& thisRunsLog);
    // The station's own position on the map, or none.
    void setStation(std::optional<GeoPoint> station) { view_.setStation(station); }
    // The canvas saved as a picture: the status line drops the last problem;
    // or not, and it says so (`why` may be empty).
    void saved() { problem_.clear(); }
    void notSaved(const std::string& path, const std::string& why);
    void clear();

    std::size_t skippedLines() const { return skipped_; }
    // The beacons and passes, then what was skipped and the last problem.
    std::string statusText() const;

private:
    TrendView view_;
    std::size_t skipped_ = 0;
    std::string problem_;
};

}  // namespace kestrel::plot
