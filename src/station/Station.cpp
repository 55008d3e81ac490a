#include "station/Station.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <exception>
#include <locale>

namespace kestrel {
namespace {

// Shut-down reports nothing on screen; what failed still goes somewhere.
template <class F>
void ShutDownStep(const char* what, F&& step) noexcept {
    try {
        step();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-decoder: %s failed at shut-down: %s\n", what, e.what());
    } catch (...) {
        std::fprintf(stderr, "kestrel-decoder: %s failed at shut-down\n", what);
    }
}

}  // namespace

Station::Station(IStationView& view, StationSeams seams)
    : CPort(std::move(seams.device)),
      view_(view),
      clock_(seams.clock ? *seams.clock : systemClock()),
      fileSystem_(seams.fileSystem ? *seams.fileSystem : systemFileSystem()),
      archive_(fileSystem_, clock_),
      decoder_(clock_, *this, archive_),
      finder_(*this),
      beforeMessage_([this] { flushDisplay(); }) {
    designPortSettings(seams.mailbox);
}

Station::~Station() {
    // The port goes first: nothing it delivers may reach a half-destroyed engine.
    CPort.OnRxChar = nullptr;
    try {
        CPort.ClosePort();
    } catch (...) {
    }
}

// The window's design values; the settings file overrides what it holds.
void Station::designPortSettings(MainThreadMailbox* mailbox) {
    CPort.SetName("CPort");
    CPort.SetPort("COM4");
    CPort.SetBaudRate(br9600);
    CPort.SetDataBits(dbEight);
    CPort.Parity().SetBits(prNone);
    CPort.SetStopBits(sbOneStopBit);
    TComFlowControl& flow = CPort.FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(dtrDisable);
    flow.SetControlRTS(rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    TComTimeouts& timeouts = CPort.Timeouts();
    timeouts.SetReadInterval(100);
    timeouts.SetReadTotalMultiplier(100);
    timeouts.SetReadTotalConstant(100);
    timeouts.SetWriteTotalMultiplier(1000);
    timeouts.SetWriteTotalConstant(1000);
    CPort.SetEvents(kAllComEvents);
    CPort.SetSyncMethod(smWindowSync);
    CPort.SetMailbox(mailbox);
}

// ---- Start-up and shut-down -------------------------------------------------

void Station::FormCreate() {
    // One number format for the whole process, whatever the toolkit or the
    // user's locale set: "." as the decimal separator everywhere.
    std::setlocale(LC_NUMERIC, "C");
    std::locale::global(std::locale::classic());
    baseDirectory_ = fileSystem_.currentDirectory();
    settingsFilePath_ = JoinPath(baseDirectory_, kSettingsFileName);
    CPort.LoadSettingsFile(settingsFilePath_);  // a failure skips the rest
    setStream(false);
    aRXBufferInitExecute();
    try {
        archive_.openRunFiles(baseDirectory_);  // the run goes on without its files
    } catch (...) {
    }
    try {
        CPort.OpenPort();
    } catch (...) {
        flushDisplay();
        view_.showMessage(kStartUpPortError);
    }
}

void Station::FormClose() {
    if (closed_)
        return;
    closed_ = true;
    ShutDownStep("closing the raw byte log", [&] { archive_.closeRawByteLog(); });
    ShutDownStep("storing the settings", [&] { CPort.SaveSettingsFile(settingsFilePath_); });
    ShutDownStep("closing the port", [&] { CPort.ClosePort(); });
}

// ---- Buttons and timers ----------------------------------------------------

void Station::bClearClick() {
    CPort.PurgeBuffers(true, true);
    dropReadBytes();
    flushDisplay();  // the status text stays as the last byte left it
    rxText_.clear();
    rxHex_.clear();
    decodedDirty_ = false;
    view_.clearPanes();
    aRXBufferInitExecute();
}

void Station::settingsBeforeDialog() {
    setStream(false);
    CPort.ClosePort();
    dropReadBytes();
}

void Station::settingsAfterDialog() {
    try {
        CPort.OpenPort();
    } catch (...) {
        flushDisplay();
        view_.showMessage(kSettingsPortError);
    }
}

void Station::Timer1Timer() {
    flushDisplay();
    view_.trimPanes();
}

void Station::displayTick() {
    displayTickPending_ = false;
    flushDisplay();
}

// ---- Receive path -----------------------------------------------------------

void Station::CPortRxByte() {
    // Whatever happens below, what was received is painted soon.
    struct PaintLater {
        Station* station;
        ~PaintLater() { station->displayChanged(); }
    } paintLater{this};

    const auto sliceEnd = std::chrono::steady_clock::now() + kReceiveSlice;
    for (;;) {
        if (rxNext_ == rxChunk_.size()) {
            rxChunk_.clear();
            rxNext_ = 0;
            const std::int32_t waiting = CPort.BytesWaiting();
            if (waiting <= 0 || CPort.ReadBytes(rxChunk_, std::min(waiting, kReadChunk)) <= 0)
                break;
        }
        // Taken from the chunk before it is handled: a byte whose handling
        // fails is gone, the ones after it wait for the next event.
        const auto b = static_cast<std::uint8_t>(rxChunk_[rxNext_++]);
        rxText_.appendByte(b);
        rxHex_.appendByte(b);
        lastRxByte_.assign(1, static_cast<char>(b));
        aRXBufferAnalyse2Execute();
        if (rxText_.flushDue() || rxHex_.flushDue())
            flushPanes();
        if (std::chrono::steady_clock::now() >= sliceEnd) {
            if (!continuationPending_) {
                continuationPending_ = true;
                view_.continueSoon();
            }
            break;
        }
    }
}

void Station::continueReceive() {
    continuationPending_ = false;
    if (!CPort.Connected())
        return;
    if (rxNext_ < rxChunk_.size() || CPort.BytesWaiting() > 0)
        CPortRxByte();
}

void Station::dropReadBytes() {
    rxChunk_.clear();
    rxNext_ = 0;
}

void Station::aRXBufferAnalyse2Execute() {
    if (lastRxByte_.size() != 1)
        return;
    finder_.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(lastRxByte_[0]));
}

void Station::aDecodeTelemetry1Execute() {
    decoder_.aDecodeTelemetry1Execute(finder_.CurrentRecord(), finder_.RawFrameCopy());
}

void Station::setReceiveStatus(std::string_view text) {
    statusText_.assign(text);
    statusDirty_ = true;
}

void Station::writeRawByte(std::uint8_t byte) { archive_.appendRawByte(byte); }

void Station::decodeFrame() { aDecodeTelemetry1Execute(); }

void Station::showDecodedInfo(const std::vector<std::string>& lines) {
    decodedLines_ = lines;
    decodedDirty_ = true;
}

// ---- Display ---------------------------------------------------------------

void Station::displayChanged() {
    if (displayTickPending_ || (rxText_.empty() && rxHex_.empty() && !statusDirty_ && !decodedDirty_))
        return;
    displayTickPending_ = true;
    view_.displaySoon();
}

void Station::flushPanes() {
    if (!rxText_.empty())
        view_.appendReceived(RxPane::Text, rxText_.take());
    if (!rxHex_.empty())
        view_.appendReceived(RxPane::Hex, rxHex_.take());
}

void Station::flushDisplay() {
    flushPanes();
    if (statusDirty_) {
        statusDirty_ = false;
        view_.showReceiveStatus(statusText_);
    }
    if (decodedDirty_) {
        decodedDirty_ = false;
        view_.showDecodedLines(decodedLines_);
    }
}

// ---- TNC send pane ---------------------------------------------------------

void Station::MemoTXKeyPress(char key) { CPort.WriteText(std::string(1, key)); }

void Station::aTNCSendExecute(std::string_view paneText) {
    // The pane's lines go out separated by CR LF, as the TNC expects them.
    std::string text;
    text.reserve(paneText.size() + paneText.size() / 8 + 1);
    for (char c : paneText) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    text += '\r';
    CPort.WriteText(text);
}

// ---- Test generator --------------------------------------------------------

void Station::aTestExecute() {
    aInitExecute();
    aFillBufferExecute();
    CPort.WriteText(generator_.TestFrame);
}

void Station::setStream(bool on) {
    streamOn_ = on;
    view_.setStreamTimer(on);
}

void Station::aM4Execute() { setStream(!streamOn_); }

void Station::TimerXTimer() {
    // The stream is a background test signal: a closed or failing port must
    // not open a message box every 10 ms.
    try {
        aInitExecute();
        CPort.WriteText(std::string(1, static_cast<char>(generator_.RandomByte())));
    } catch (...) {
    }
}

}  // namespace kestrel
