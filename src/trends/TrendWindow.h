#pragma once
// The trend window: battery voltage, currents, temperatures and magnetic field
// of the beacons against their receive time (UTC), one chart each. It takes
// beacons as the main window decodes them (addBeacon) and BeaconTextLogs from
// an archive (openLog, openArchive), and saves the charts as a PNG.

#include "telemetry/BeaconFrame.h"
#include "telemetry/BeaconTextLogReader.h"
#include "telemetry/Clock.h"
#include "telemetry/TrendSamples.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class QChart;
class QLabel;
class QLineSeries;

namespace kestrel {

class TTrendWindow : public QWidget {
    Q_OBJECT

public:
    explicit TTrendWindow(QWidget* parent = nullptr);

    // One beacon as it was decoded, received at `utc`. The main window calls
    // this for every beacon it decodes.
    void addBeacon(const BeaconRecord& record, const SystemTime& utc);

    // Adds the beacons of one BeaconTextLog (Telemetry/Decoded/KR7_beacon_*.txt).
    // Returns how many of its lines were skipped as unparseable, -1 when the
    // file cannot be read.
    int openLog(const QString& path);
    // Adds every BeaconTextLog below dir/Telemetry/Decoded. Returns the lines
    // skipped in all of them, -1 when there is no such folder.
    int openArchive(const QString& dir);
    // Writes the charts as they are shown to a PNG file; false on failure.
    bool savePng(const QString& path);
    // Forgets every beacon.
    void clear();

    int beaconCount() const { return static_cast<int>(samples_.size()); }
    // Lines skipped by openLog and openArchive since the last clear.
    int skippedLines() const { return skipped_; }
    // Every plotted series; their names are the field names (Vbat, Iin, Bx, ...).
    QList<QLineSeries*> series() const;
    QLineSeries* series(const QString& name) const;

private:
    void showEvent(QShowEvent* event) override;
    // Brings the charts up to the samples if they were added while hidden.
    void ensureCurrent() const;
    void addEntries(const std::vector<BeaconLogEntry>& entries);
    void append(const BeaconLogEntry& entry);
    void rebuild();
    void updateRanges();
    void updateStatus();
    void askOpenLog();
    void askOpenArchive();
    void askSavePng();

    TrendSamples samples_;
    // While the window is hidden, beacons only go into samples_: a live
    // session must not pay for charts nobody looks at.
    bool stale_ = false;
    class QTimer* axesTimer_ = nullptr;
    int skipped_ = 0;
    QString lastProblem_;
    std::array<QLineSeries*, kTrendSeriesCount> series_{};
    std::array<QColor, kTrendSeriesCount> colors_{};
    // The drawn lines: per pass, one series per field.
    std::vector<std::array<QLineSeries*, kTrendSeriesCount>> lines_;
    std::vector<QChart*> charts_;
    QWidget* chartArea_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace kestrel
