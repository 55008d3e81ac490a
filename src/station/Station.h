#pragma once
// The station engine: the main window's control logic without the window.
// It owns the port, the archive, the decoder, the frame finder, the test
// generator and the bytes read from the port but not yet handled; a front end
// builds the controls, owns the timers, implements IStationView and calls the
// operation that belongs to each of its handlers.
//
// Every received byte is logged, analysed and decoded at once; what the panes,
// the status text and Memo1 show is queued and painted at most ten times a
// second (displayTick), and at once before any message box, at the
// one-second trim and at Clear.

#include "kiss/KissDeframer.h"
#include "kiss/KissTcpLine.h"
#include "kiss/LineSource.h"
#include "serial/CPort.h"
#include "share/Share.h"
#include "station/Report.h"
#include "station/RxPaneText.h"
#include "station/StationView.h"
#include "telemetry/Archive.h"
#include "telemetry/Decoder.h"
#include "telemetry/FrameFinder.h"
#include "telemetry/Generator.h"
#include "telemetry/InOutError.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// What the engine is built with; tests replace each of them.
struct StationSeams {
    IClock* clock = nullptr;             // none: the system clock
    IFileSystem* fileSystem = nullptr;   // none: the system's files
    std::unique_ptr<ComDevice> device;   // none: the platform's serial device
    MainThreadMailbox* mailbox = nullptr;  // where the port's events go; none: the application's
};

class Station : private IFrameFinderHost, private IDecodedInfoPane {
    // What the decoder stores through: the archive, with a failure counted
    // and reported instead of ending the receive path.
    class GuardedStore : public IBeaconStore {
    public:
        explicit GuardedStore(Station& station) : station_(station) {}
        void aSaveTempFileExecute(const BeaconRecord& currentRecord) override;
        void aSaveBinFileExecute(const RawFrame& rawFrameCopy) override;

    private:
        Station& station_;
    };

public:
    static constexpr const char* kSettingsFileName = "RS232Settings.ini";
    static constexpr const char* kStartUpPortError = "RS232 error. Check settings.";
    static constexpr const char* kSettingsPortError = "COM port error!";
    // One receive slice keeps the event loop at most this long.
    static constexpr auto kReceiveSlice = std::chrono::milliseconds(50);
    // Bytes taken from the port in one read.
    static constexpr std::int32_t kReadChunk = 4096;
    // How often a lost port is tried again, and a RawByteLog that could not be
    // created, in one-second trim ticks.
    static constexpr int kRetryTicks = 2;
    // Painting is the dearest part of receiving (laying out and drawing the
    // panes costs more than handling their bytes); ten times a second still
    // reads as a live stream.
    static constexpr auto kDisplayInterval = std::chrono::milliseconds(100);

    explicit Station(IStationView& view, StationSeams seams = {});
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    TComPort CPort;
    // Where the bytes come from: the serial port as it is, the serial port
    // carrying KISS, or a software TNC's KISS port over TCP (the settings
    // file's [Line] section; without it, the serial port).
    const LineSourceSettings& LineSource() const { return lineSource_; }

    // ---- Start-up and shut-down ----
    // Formats, BaseDirectory, settings file, stream off, empty buffer, the
    // run's files (silently), the port ("RS232 error. Check settings.").
    // A failing settings file is not caught: the rest is skipped.
    void FormCreate();
    // Logs closed, settings stored, port closed; each step on its own, never
    // reporting (what failed goes to standard error). Runs once.
    void FormClose();
    bool Closed() const { return closed_; }

    // ---- Buttons and timers ----
    // Purge (not caught: with the port closed nothing is cleared), then the
    // panes, then the ReceiveBuffer.
    void bClearClick();
    // The two halves of Settings around the setup dialog.
    void settingsBeforeDialog();  // stream off, port closed
    void settingsAfterDialog();   // port opened ("COM port error!")
    // Paints what waits, trims the panes, and every kRetryTicks tries again
    // what has failed: a lost port, a RawByteLog that could not be created.
    void Timer1Timer();
    void displayTick();  // the display tick asked for with displaySoon()

    // ---- Receive path ----
    // One receive event: reads what waits and hands each byte on until the
    // port is empty or the slice is used up (then continueSoon()). A byte
    // whose handling fails is gone; the bytes after it wait for the next
    // event or continuation.
    void CPortRxByte();
    // The continuation asked for with continueSoon().
    void continueReceive();
    void aRXBufferInitExecute() { finder_.aRXBufferInitExecute(); }
    void aRXBufferAnalyse2Execute();
    void aDecodeTelemetry1Execute();
    void aSaveTempFileExecute() { archive_.aSaveTempFileExecute(finder_.CurrentRecord()); }
    void aSaveBinFileExecute() { archive_.aSaveBinFileExecute(finder_.RawFrameCopy()); }
    // Shows what is queued for the panes, the status bar and Memo1.
    void flushDisplay();

    // ---- TNC send pane ----
    void MemoTXKeyPress(char key);  // the key goes out at once; throws on failure
    // F9: the pane's text (lines separated by '\n') with CR LF between lines
    // and a CR at the end.
    void aTNCSendExecute(std::string_view paneText);

    // ---- Test generator ----
    void aInitExecute() { generator_.Init(clock_.tickCount()); }
    void aFillBufferExecute() { generator_.FillBuffer(); }
    void aTestExecute();   // Ctrl+T
    void aM4Execute();     // Ctrl+Alt+M
    void TimerXTimer();    // a failing write is ignored
    bool streamOn() const { return streamOn_; }

    // ---- Faults it rides out ----
    // The port went away (unplugged adapter, hang-up): closed, reported once,
    // reopened by Timer1Timer with the same settings.
    bool PortLost() const { return portLost_; }
    // Received bytes the RawByteLog, and beacons the BeaconTextLog or a
    // RawFrameFile, could not take since start-up.
    std::uint64_t UnarchivedBytes() const { return unarchivedBytes_; }
    std::uint32_t UnarchivedBeacons() const { return unarchivedBeacons_; }

    // ---- State lent to the front end and the tests ----
    const std::string& BaseDirectory() const { return baseDirectory_; }
    const std::string& SettingsFilePath() const { return settingsFilePath_; }
    const std::string& LastRxByte() const { return lastRxByte_; }
    FrameFinder& Finder() { return finder_; }
    Archive& TelemetryArchive() { return archive_; }
    const TestGenerator& Generator() const { return generator_; }
    std::int32_t BeaconCounter() const { return decoder_.BeaconCounter(); }

private:
    void designPortSettings(MainThreadMailbox* mailbox);
    void portLost();
    void tryReopenPort();
    void receiveSlice();
    bool lineOpen() const;
    std::int32_t lineBytesWaiting();
    std::int32_t lineRead(std::string& chunk, std::int32_t count);
    void lineWrite(const std::string& bytes);
    void handleLineByte(std::uint8_t b);
    void analyse(std::uint8_t b);
    void tcpStateChanged(KissTcpLine::State state, const std::string& detail);
    void showKissState();
    void drainReceived();
    void logRawByte(std::uint8_t byte);
    void rawByteFailed(const EInOutError& error);
    void beaconFileFailed(const EInOutError& error);
    void showArchiveState();
    void showShareState();
    void setStatus(StatusPanel panel, std::string text);
    void report(const std::string& text);
    void showPendingReports();
    void setStream(bool on);
    void flushPanes();
    void displayChanged();
    void dropReadBytes();

    // IFrameFinderHost
    void setReceiveStatus(std::string_view text) override;
    void writeRawByte(std::uint8_t byte) override;
    void decodeFrame() override;
    // IDecodedInfoPane
    void showDecodedInfo(const std::vector<std::string>& lines) override;

    IStationView& view_;
    IClock& clock_;
    IFileSystem& fileSystem_;
    Archive archive_;
    GuardedStore store_{*this};
    Decoder decoder_;
    FrameFinder finder_;
    TestGenerator generator_;
    TBeforeMessageHook beforeMessage_;

    std::string baseDirectory_;
    std::string settingsFilePath_;
    std::string lastRxByte_;
    // The latest read from the port and the next of its bytes to handle.
    std::string rxChunk_;
    std::size_t rxNext_ = 0;
    bool continuationPending_ = false;

    // What waits to be painted.
    RxPaneText rxText_{RxPaneText::Mode::Text};
    RxPaneText rxHex_{RxPaneText::Mode::Hex};
    struct Status {
        std::string text;
        bool dirty = false;
    };
    std::array<Status, 4> status_;
    std::vector<std::string> decodedLines_;
    bool decodedDirty_ = false;
    bool displayTickPending_ = false;

    bool streamOn_ = false;
    bool closing_ = false;
    bool closed_ = false;

    LineSourceSettings lineSource_;
    kiss::KissDeframer deframer_;
    std::uint64_t kissShownFrames_ = 0, kissShownDropped_ = 0;
    MainThreadMailbox* mailbox_ = nullptr;
    std::unique_ptr<KissTcpLine> tcp_;
    // Every beacon decoded live goes on to the telemetry server ([Share]); on
    // a KISS line as the whole data frame that completed it, once per frame.
    Share share_;
    std::string kissFrame_;
    bool kissFrameForwarded_ = false;
    bool tcpReported_ = false;  // a lost connection is reported once until it is back

    bool portLost_ = false;
    int retryCountdown_ = kRetryTicks;
    bool rawByteLogFailing_ = false;
    bool beaconFilesFailing_ = false;
    std::uint64_t unarchivedBytes_ = 0;
    std::uint32_t unarchivedBeacons_ = 0;
    // Reports raised inside the receive loop, shown once it has ended: a box
    // runs a nested loop that receives too, and must not do so in the middle
    // of handling a byte.
    std::vector<std::string> pendingReports_;
};

}  // namespace kestrel
