#pragma once
// TForm1: the main window on Qt. It builds the controls and the action list
// from the window's design, owns the timers and shows what the station engine
// (station/Station.h) hands it; each handler is one call into the engine.

#include "gui/QtMailbox.h"
#include "gui/RxPane.h"
#include "station/Station.h"
#include "station/WindowDesign.h"
#include "Version.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTimer;

namespace kestrel {

class TSignalCloser;
class TTrendWindow;

// What the window is built with; tests replace the clock and the file system.
struct TForm1Seams {
    IClock* clock = nullptr;            // none: the system clock
    IFileSystem* fileSystem = nullptr;  // none: the system's files
};

class TForm1 : public QWidget, private IStationView {
    Q_OBJECT
public:
    static constexpr const char* kCaption = kMainCaption;

    // Builds the controls and runs start-up (FormCreate).
    explicit TForm1(QWidget* parent = nullptr, TForm1Seams seams = {});
    ~TForm1() override;

    // ---- Controls, in the order of the design ----
    QGroupBox* GroupBox2;
    QFrame* Panel1;
    QPushButton* bSettings;
    QPushButton* bClear;
    QPlainTextEdit* Memo2;
    QGroupBox* GroupBox3;
    QPlainTextEdit* MemoTX;
    QPushButton* bClearTNC;
    QGroupBox* GroupBox1;
    TRxPane* MemoRX;
    TRxPane* MEMORXHEX;
    QPlainTextEdit* Memo1;
    QStatusBar* StatusBar1;
    std::array<QLabel*, design::kStatusPanels> StatusPanels{};  // panel 0: "N=" and the buffer length
    // Every control above, in the order of design::ControlId.
    std::array<QWidget*, design::kControlCount> Controls{};

    QTimer* TimerX;
    QTimer* Timer1;

    // ActionList1, in the order of design::ActionId; each runs its action in
    // the engine.
    std::array<QAction*, design::kActionCount> ActionList1{};
    // The trend window of this session's beacons (F2).
    TTrendWindow* Trends() const { return trends_.get(); }

private:
    TQtMailbox mailbox_;  // declared before the engine: the port's close services it
    Station station_;

public:
    TComPort& CPort;

    // ---- Handlers (Sender: the control or component the event came from) ----
    void FormCreate(QObject* Sender);
    void bClearClick(QObject* Sender);
    void bSettingsClick(QObject* Sender);
    void bClearTNCClick(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void TimerXTimer(QObject* Sender);

    // ---- State lent to the other parts ----
    Station& Engine() { return station_; }
    const std::string& BaseDirectory() const { return station_.BaseDirectory(); }
    const std::string& SettingsFilePath() const { return station_.SettingsFilePath(); }
    FrameFinder& Finder() { return station_.Finder(); }
    Archive& TelemetryArchive() { return station_.TelemetryArchive(); }
    int32_t BeaconCounter() const { return station_.BeaconCounter(); }
    const TestGenerator& Generator() const { return station_.Generator(); }
    // A display tick is due (something received waits to be painted).
    bool DisplayPending() const;
    // True once shut-down has run.
    bool Closed() const { return station_.Closed(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    QWidget* makeControl(design::ControlId id);
    void buildActions();
    void layoutControls();
    void statusPanelClick(int panel);

    // IStationView
    void appendReceived(RxPane pane, std::string_view text) override;
    void showStatus(int panel, std::string_view text, std::string_view tip) override;
    bool statusTextFits(std::string_view text) override;
    std::string decodedText() override;
    void editDecodedText(const DecodedEdit& edit) override;
    void clearPanes() override;
    void trimPanes() override;
    std::string sendPaneText() override;
    void insertInSendPane(std::string_view text) override;
    void showTrends(std::optional<StationPosition> station) override;
    void loadEarlierBeacons(const std::string& stationFolder, const std::string& thisRunsLog) override;
    bool dismissModals() override;
    void setStreamTimer(bool on) override;
    void continueSoon() override;
    void displaySoon() override;
    void beep() override;
    void beaconDecoded(const BeaconRecord& record, const SystemTime& utc) override;
    void runStationDialog(StationDialogModel& model) override;

    QTimer* displayTimer_ = nullptr;
    std::unique_ptr<TTrendWindow> trends_;
    std::unique_ptr<TSignalCloser> signalCloser_;
};

}  // namespace kestrel
