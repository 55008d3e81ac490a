#pragma once
// The trend window on Qt: the tool bar, the tabs and the status line of the
// trend window's design (plot/TrendDesign.h) around a canvas that draws what
// the plot design (plot/TrendView.h) lays out: battery, currents,
// temperatures and magnetic field against receive time (UTC), or the ground
// track. It takes beacons as the main window decodes them (addBeacon) and
// BeaconTextLogs or beacon CSVs from files, and saves the canvas as a PNG;
// what each of these does is the window's model's (plot/TrendWindowModel.h).

#include "plot/TrendWindowModel.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <QString>
#include <QWidget>

#include <optional>

class QAction;
class QLabel;
class QTabBar;

namespace kestrel {

class TTrendCanvas;

class TTrendWindow : public QWidget {
    Q_OBJECT

public:
    explicit TTrendWindow(QWidget* parent = nullptr);
    ~TTrendWindow() override;

    // One beacon as it was decoded, received at `utc`: the main window calls
    // this for every beacon it decodes.
    void addBeacon(const BeaconRecord& record, const SystemTime& utc);
    // Adds the beacons of a station folder (the one holding Telemetry/), a
    // Telemetry/ or Decoded/ folder, one BeaconTextLog or a beacon CSV, and
    // takes the station's position from its settings. Returns the lines
    // skipped, -1 when nothing could be read.
    int open(const QString& path);
    // Adds the beacons of the station's earlier runs (all its BeaconTextLogs
    // but this run's own, whose beacons come live).
    void openEarlier(const std::string& station, const std::string& thisRunsLog);
    // Writes the canvas as it is shown to a PNG file; false on failure.
    bool savePng(const QString& path);
    // The station's own position on the map, or none.
    void setStation(std::optional<plot::GeoPoint> station);
    void clear();

    int beaconCount() const { return static_cast<int>(model_.view().samples().size()); }
    plot::TrendView& view() { return model_.view(); }
    QWidget* canvas() const;
    QString statusText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void changed();
    void updateStatus();
    void askOpenArchive();
    void askOpenLog();
    void askSavePng();

    plot::TrendWindowModel model_;
    TTrendCanvas* canvas_ = nullptr;
    QTabBar* tabs_ = nullptr;
    QAction* realTime_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace kestrel
