#pragma once
// TForm1: the main window. It owns the panes, the status bar, the port CPort,
// the two timers, the action list, the receive state and the archive; its
// handlers keep the names of the operations and hand the work to the core.

#include "gui/QtMailbox.h"
#include "gui/RxPane.h"
#include "serial/CPort.h"
#include "telemetry/Archive.h"
#include "telemetry/Decoder.h"
#include "telemetry/FrameFinder.h"
#include "telemetry/Generator.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// What the window is built with; tests replace the clock and the file system.
struct TForm1Seams {
    IClock* clock = nullptr;          // none: the system clock
    IFileSystem* fileSystem = nullptr;  // none: the system's files
};

class TForm1 : public QWidget, private IFrameFinderHost, private IDecodedInfoPane {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "KESTREL telemetry decoder (UART/RS232) V1.83";
    static constexpr const char* kSettingsFileName = "RS232Settings.ini";

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
    std::array<QLabel*, 4> StatusPanels{};  // panel 0: "N=" and the buffer length

    QTimer* TimerX;
    QTimer* Timer1;

    // ActionList1, each action captioned with its own name.
    QAction* aInit;
    QAction* aFillBuffer;
    QAction* aRXBufferInit;
    QAction* aRXBufferAnalyse2;
    QAction* aDecodeTelemetry1;
    QAction* aSaveTempFile;
    QAction* aM4;
    QAction* aTest;
    QAction* aSaveBinFile;
    QAction* aTNCSend;
    std::vector<QAction*> ActionList1;

private:
    TQtMailbox mailbox_;  // declared before CPort: the port's close services it

public:
    TComPort CPort;

    // ---- Handlers (Sender: the control or component the event came from) ----
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);
    void bClearClick(QObject* Sender);
    void bSettingsClick(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void CPortRxByte(TCustomComPort& Sender, int32_t Count);

    void aRXBufferInitExecute(QObject* Sender);
    void aRXBufferAnalyse2Execute(QObject* Sender);
    void aDecodeTelemetry1Execute(QObject* Sender);
    void aSaveTempFileExecute(QObject* Sender);
    void aSaveBinFileExecute(QObject* Sender);

    // TNC send pane and test generator (CP_MainConsole.cpp).
    void aInitExecute(QObject* Sender);
    void aFillBufferExecute(QObject* Sender);
    void aTestExecute(QObject* Sender);
    void aM4Execute(QObject* Sender);
    void TimerXTimer(QObject* Sender);
    void aTNCSendExecute(QObject* Sender);
    void bClearTNCClick(QObject* Sender);
    // Sees every typed character before the pane inserts it; an exception
    // cancels the insertion.
    void MemoTXKeyPress(QObject* Sender, char& Key);

    // ---- State lent to the other parts ----
    const std::string& BaseDirectory() const { return baseDirectory_; }
    const std::string& SettingsFilePath() const { return settingsFilePath_; }
    const std::string& LastRxByte() const { return lastRxByte_; }
    FrameFinder& Finder() { return finder_; }
    Decoder& TelemetryDecoder() { return decoder_; }
    Archive& TelemetryArchive() { return archive_; }
    int32_t BeaconCounter() const { return decoder_.BeaconCounter(); }

    // Shows what the receive path has queued (pane text, status, decoded
    // lines). Runs at the end of every receive event and before a message box.
    void FlushReceiveView();
    // True once shut-down has run.
    bool Closed() const { return closed_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildActions();
    void layoutControls();
    void designPortSettings();
    QAction* addNamedAction(const char* name, const QKeySequence& shortcut, void (TForm1::*handler)(QObject*));
    void scheduleReceiveContinuation();
    // Forgets bytes read from the port but not yet handled, as the purge or
    // the close forgets those still in the driver.
    void dropReadBytes();

    // IFrameFinderHost
    void setReceiveStatus(std::string_view text) override;
    void writeRawByte(std::uint8_t byte) override;
    void decodeFrame() override;
    // IDecodedInfoPane
    void showDecodedInfo(const std::vector<std::string>& lines) override;

    IClock& clock_;
    IFileSystem& fileSystem_;
    Archive archive_;
    Decoder decoder_;
    FrameFinder finder_;

    std::string baseDirectory_;
    std::string settingsFilePath_;
    std::string lastRxByte_;
    // The latest read from the port and the next of its bytes to handle; what
    // an error or the end of a slice leaves goes first at the next event.
    std::string rxChunk_;
    std::size_t rxNext_ = 0;

    // Queued view updates of the receive path.
    std::string statusText_;
    bool statusDirty_ = false;
    std::vector<std::string> decodedLines_;
    bool decodedDirty_ = false;
    bool continuationPending_ = false;

    std::unique_ptr<TSignalCloser> signalCloser_;
    bool closed_ = false;

    // Test generator: its random sequence, TestRecord, header value and
    // TestFrame; all zero until the first aInit.
    TestGenerator generator_;

public:
    const TestGenerator& Generator() const { return generator_; }
};

// Joins decoded lines for the pane.
QString JoinLines(const std::vector<std::string>& lines);

}  // namespace kestrel
