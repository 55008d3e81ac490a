#pragma once
// The station engine: the main window's control logic without the window. A
// front end builds the controls (from WindowDesign.h), owns the timers,
// implements IStationView and calls the operation that belongs to each of its
// handlers, one line each: an action by its id (runAction), a close request
// (closeRequested), a key in the send pane (MemoTXKey).
//
// Station is the conductor: it wires the parts together and runs start-up,
// shut-down and the ticks. The parts, each in a file of its own:
//   Line         the line to the TNC (serial, serial KISS, KISS over TCP)
//   PortRetry    a serial port that went away, opened again
//   Receiver     receive slicing, KISS de-framing
//   DisplayQueue what waits to be painted
//   StatusBar    what status panels 1 to 3 say, by one rule
//   ArchiveGuard archive failures counted and reported once
//   Console      the send pane's key rule, F9, the test generator
//   Continuation the one way to ask the event loop to come back
// Where a feature hooks in: a decoded beacon's road is decodeFrame(), in
// order (its one receive time, the archive, the decoded pane, forwarding, the
// trend sample through IStationView::beaconDecoded); the one-second tick
// Timer1Timer(), start-up FormCreate(), shut-down FormClose(), a new action
// design::kActions and runAction().

#include "kiss/LineSource.h"
#include "serial/CPort.h"
#include "share/Share.h"
#include "telemetry/StationLock.h"
#include "station/ArchiveGuard.h"
#include "station/Console.h"
#include "station/Continuation.h"
#include "station/DisplayQueue.h"
#include "station/Line.h"
#include "station/Notices.h"
#include "station/Receiver.h"
#include "station/Report.h"
#include "station/StationDialog.h"
#include "station/StationLog.h"
#include "station/StationView.h"
#include "station/WindowDesign.h"
#include "telemetry/Archive.h"
#include "telemetry/Decoder.h"
#include "telemetry/FrameFinder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// What the engine is built with; tests replace each of them.
struct StationSeams {
    IClock* clock = nullptr;               // none: the system clock
    IFileSystem* fileSystem = nullptr;     // none: the system's files
    std::unique_ptr<ComDevice> device;     // none: the platform's serial device
    MainThreadMailbox* mailbox = nullptr;  // where the port's events go; none: the application's
};

class Station {
public:
    static constexpr const char* kSettingsFileName = "RS232Settings.ini";
    static constexpr const char* kStartUpPortError = "RS232 error. Check settings.";
    static constexpr const char* kSettingsPortError = "COM port error!";
    static constexpr auto kDisplayInterval = DisplayQueue::kDisplayInterval;
    static constexpr int kRetryTicks = PortRetry::kRetryTicks;
    // The last run's shut-down failure, shown at the next start until clicked
    // or until the first tick after a minute.
    static constexpr const char* kLastExitText = "Exit failed";
    static constexpr std::uint32_t kLastExitShownMs = 60'000;

    // Wires the port's receive event to CPortRxByte; the destructor takes the
    // lines down before anything they deliver to.
    explicit Station(IStationView& view, StationSeams seams = {});
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    TComPort CPort;
    // Where the bytes come from (the settings file's [Line] section).
    const LineSourceSettings& lineSource() const { return lineSource_; }

    // ---- Start-up and shut-down ----
    // Formats, BaseDirectory, the station log (and the last run's shut-down
    // failure in a panel), settings file, stream off, empty buffer, the run's
    // files (a folder that cannot be written is reported), the line ("RS232
    // error. Check settings."). A failing settings file is not caught: the
    // rest is skipped.
    void FormCreate();
    // What the line still holds taken, logs closed, settings stored, line
    // closed; each step on its own, never reporting on screen (what failed is
    // written down: standard error and the station log). Runs once.
    void FormClose();
    bool closed() const { return closed_; }
    // A close request (the window's close box, a signal, the system): it wins
    // over every report, so no box opens from here on. While a box or the
    // setup dialog is up the view dismisses them and asks again once they have
    // returned (false: the window stays for now); otherwise shut-down runs and
    // the window closes (true).
    bool closeRequested() noexcept;

    // ---- Actions ----
    // Runs the action of the window's design (design::kActions) by its id:
    // each window's shortcut table calls this one entry. What the action
    // raises is not caught.
    void runAction(design::ActionId id);

    // ---- Buttons and timers ----
    // Purge (not caught: with the port closed nothing is cleared), then the
    // panes, then the ReceiveBuffer.
    void bClearClick();
    // Settings: stream off and port closed, runDialog (the setup dialog, which
    // changes CPort's settings), port opened again ("COM port error!"). What
    // runDialog raises skips the reopening. The front end gives the focus back
    // to the Settings button afterwards.
    void bSettingsClick(const std::function<void()>& runDialog);
    void settingsBeforeDialog();
    void settingsAfterDialog();
    // Paints what waits, trims the panes, and every kRetryTicks tries again
    // what has failed: a lost port, a RawByteLog that could not be created.
    void Timer1Timer();
    void displayTick() { display_.tick(); }  // asked for with displaySoon()
    // A click on status panel 1 to 3: the last run's shut-down failure goes.
    void statusPanelClicked(int panel);

    // ---- Receive path ----
    // One receive event: a slice of the bytes waiting (Receiver).
    void CPortRxByte();
    // The continuation asked for with continueSoon().
    void continueReceive();
    // The actions of the receive path, each on the latest beacon (or byte) as
    // the receive path left it; the receive path itself calls the frame
    // finder and the decoder directly.
    void aRXBufferInitExecute() { finder_.aRXBufferInitExecute(); }
    void aRXBufferAnalyse2Execute();
    void aDecodeTelemetry1Execute();
    void aSaveTempFileExecute() { archive_.aSaveTempFileExecute(finder_.CurrentRecord(), beaconUtc_); }
    void aSaveBinFileExecute() { archive_.aSaveBinFileExecute(finder_.RawFrameCopy(), beaconUtc_); }
    // Shows what is queued for the panes, the status bar and Memo1.
    void flushDisplay() { display_.flush(); }

    // ---- TNC send pane ----
    // A key pressed in the send pane (the rule: SendPaneKey): true when the
    // pane handles it itself. A Tab the engine types in (the pane would move
    // on); a write that fails is reported and its key not typed either.
    bool MemoTXKey(PaneKey key, char32_t character) noexcept;
    // F9: the pane's text as the TNC expects it.
    void aTNCSendExecute() { console_.aTNCSendExecute(view_.sendPaneText()); }

    // ---- Test generator ----
    void aInitExecute() { console_.aInitExecute(); }
    void aFillBufferExecute() { console_.aFillBufferExecute(); }
    void aTestExecute() { console_.aTestExecute(); }
    void aM4Execute() { console_.aM4Execute(); }
    void TimerXTimer() { console_.TimerXTimer(); }
    bool streamOn() const { return console_.streamOn(); }

    // ---- Trend window ----
    // F2: the trend window, with the station's place on its map when known;
    // the first time, the beacons of the station's earlier runs are added to
    // this session's.
    void aTrendsExecute();

    // ---- Station dialog ----
    // F3: the station dialog (StationDialog.h) on the settings now in use.
    void aStationExecute();
    // The dialog's form as the settings stand: the port, the line source,
    // and [Share] as the settings file holds it.
    StationForm stationForm() const;
    // OK in the station dialog: the form checked, only its keys written into
    // the settings file, and the line and the forwarding started again as it
    // says. The problem when it was refused, could not be stored, or the new
    // port could not be opened (stored and in use all the same).
    StationFormProblem applyStationForm(const StationForm& form);
    // Why the line could not be opened the last time, or "".
    const std::string& lineProblem() const { return lineProblem_; }

    // ---- Faults it rides out ----
    // Where what went wrong is written down, as it happens: standard error
    // and the station log (kestrel-decoder.log in the station folder).
    Notices& notices() { return notices_; }
    const StationLog& stationLog() const { return log_; }
    bool portLost() const { return line_->portLost(); }
    std::uint64_t unarchivedBytes() const { return guard_.unarchivedBytes(); }
    std::uint32_t unarchivedBeacons() const { return guard_.unarchivedBeacons(); }

    // ---- State lent to the front end and the tests ----
    const std::string& BaseDirectory() const { return baseDirectory_; }
    const std::string& settingsFilePath() const { return settingsFilePath_; }
    std::optional<std::uint8_t> LastRxByte() const { return finder_.LastRxByte(); }
    // The receive time of the latest beacon (UTC): the time the chunk holding
    // its last byte was read, as the time index records it.
    const SystemTime& beaconTime() const { return beaconUtc_; }
    FrameFinder& finder() { return finder_; }
    Archive& archive() { return archive_; }
    const TestGenerator& generator() const { return console_.generator(); }
    std::int32_t BeaconCounter() const { return decoder_.BeaconCounter(); }
    // The [Share] section as read at start-up (the station's position, for the map).
    const ShareSettings& sharingSettings() const { return share_.Settings(); }

private:
    // The line the [Line] section names, in line_.
    void chooseLine();
    void startSharing();
    // A receive slice, each frame it finds decoded on the way; then what it
    // raised is shown.
    void receiveSlice();
    void decodeSlice();
    // Shut-down: what the line still holds, within a bound for a line that
    // never falls silent.
    void drain();
    // A beacon's road, in order; see Station.cpp.
    void decodeFrame(const ReceivedFrame& received);
    void report(const std::string& text);
    // Called in the handler of a failed open: reason to panel and standard
    // error, then the designed message.
    void portFailed(const char* message);
    void showPendingReports();
    void showShareState();
    void noteStartUp(std::string startProblem);
    void showLastExit();
    void dismissLastExit();

    IStationView& view_;
    IClock& clock_;
    IFileSystem& fileSystem_;
    MainThreadMailbox* mailbox_;
    // Held from start-up to the end: one program per station folder.
    StationLock stationLock_{fileSystem_};
    StationLog log_{fileSystem_, clock_};
    Notices notices_;
    Continuation continuation_{view_, notices_};
    DisplayQueue display_{view_};
    Archive archive_;
    ArchiveGuard guard_{archive_, display_, continuation_};
    Decoder decoder_;
    FrameFinder finder_;
    Receiver receiver_;
    Console console_;
    // Every beacon decoded live goes on to the telemetry server ([Share]).
    Share share_;
    TBeforeMessageHook beforeMessage_;

    LineSourceSettings lineSource_;
    std::unique_ptr<StationLine> line_;
    std::string baseDirectory_;
    std::string settingsFilePath_;
    bool earlierBeaconsShown_ = false;
    std::string lineProblem_;
    SystemTime beaconUtc_;
    int retryCountdown_ = kRetryTicks;
    bool closed_ = false;
    std::optional<std::uint32_t> lastExitShownAt_;  // tick count when shown
};

}  // namespace kestrel
