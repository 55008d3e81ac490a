#include "station/Station.h"

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <locale>
#include <stdexcept>
#include <utility>

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
      decoder_(clock_, *this, store_),
      finder_(*this),
      beforeMessage_([this] { flushDisplay(); }) {
    mailbox_ = seams.mailbox;
    designPortSettings(seams.mailbox);
}

Station::~Station() {
    // The lines go first: nothing they deliver may reach a half-destroyed engine.
    tcp_.reset();
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
    lineSource_.Load(*CreateProfileStore(), settingsFilePath_);
    share_.Start(settingsFilePath_, baseDirectory_);  // never stops reception
    showShareState();
    setStream(false);
    aRXBufferInitExecute();
    try {
        archive_.openRunFiles(baseDirectory_);  // the run goes on without its files
    } catch (...) {
    }
    if (lineSource_.kind == LineSourceSettings::KissTcp) {
        // A software TNC that is not running yet is waited for, not an error.
        tcp_ = std::make_unique<KissTcpLine>(mailbox_);
        tcp_->OnRxBytes = [this] { CPortRxByte(); };
        tcp_->OnStateChange = [this](KissTcpLine::State s, const std::string& detail) { tcpStateChanged(s, detail); };
        tcp_->Open(lineSource_.host, lineSource_.port);
        return;
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
    closing_ = true;  // from here on no box opens and no received byte is handled
    ShutDownStep("taking the last received bytes", [&] { drainReceived(); });
    ShutDownStep("stopping the telemetry forwarding", [&] { share_.Stop(); });
    ShutDownStep("closing the raw byte log", [&] { archive_.closeRawByteLog(); });
    ShutDownStep("storing the settings", [&] {
        CPort.SaveSettingsFile(settingsFilePath_);
        if (!lineSource_.Save(*CreateProfileStore(), settingsFilePath_))
            throw std::runtime_error("the [Line] section could not be written");
    });
    ShutDownStep("closing the port", [&] { CPort.ClosePort(); });
    ShutDownStep("closing the TCP line", [&] {
        if (tcp_)
            tcp_->Close();
    });
}

// ---- Buttons and timers ----------------------------------------------------

void Station::bClearClick() {
    if (!portLost_ && !tcp_)  // a lost port has nothing queued to discard, TCP no driver queue
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
    if (portLost_) {  // the operator's choice replaces the waiting for it
        portLost_ = false;
        setStatus(StatusPanel::Port, {});
    }
    CPort.ClosePort();
    dropReadBytes();
}

void Station::settingsAfterDialog() {
    if (tcp_)
        return;  // the line is the TCP one; the serial settings wait for the file
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
    // The event thread ends when the device hangs up or vanishes; the port
    // itself would stay "open" on a dead handle.
    if (!portLost_ && CPort.Connected() && CPort.EventThreadRunning() && !CPort.EventThreadActive())
        portLost();
    if (--retryCountdown_ <= 0) {
        retryCountdown_ = kRetryTicks;
        if (portLost_)
            tryReopenPort();
        if (!archive_.rawByteLogOpen())
            archive_.retryRawByteLog();
    }
    showShareState();
    // Not from here: a box opened by the tick would stop the tick (toolkits do
    // not run a timer again while its handler waits), and with it the retries.
    if (!pendingReports_.empty() && !continuationPending_) {
        continuationPending_ = true;
        view_.continueSoon();
    }
}

void Station::portLost() {
    portLost_ = true;
    retryCountdown_ = kRetryTicks;
    try {
        CPort.ClosePort();  // releases the dead device, so it can come back under its name
    } catch (...) {
    }
    setStatus(StatusPanel::Port, "Port lost");
    pendingReports_.push_back("Port " + CPort.Port() + " lost; trying to reopen it every " +
                              std::to_string(kRetryTicks) + " s");
}

void Station::tryReopenPort() {
    try {
        CPort.OpenPort();
    } catch (...) {
    }
    if (!CPort.Connected())
        return;  // quietly: the next try comes in kRetryTicks
    portLost_ = false;
    setStatus(StatusPanel::Port, {});
}

void Station::displayTick() {
    displayTickPending_ = false;
    flushDisplay();
}

// ---- Receive path -----------------------------------------------------------

void Station::CPortRxByte() {
    if (closing_)
        return;  // the logs are closing or closed
    receiveSlice();
}

void Station::receiveSlice() {
    // Whatever happens below, what was received is painted soon, and bytes
    // left behind by a failure are picked up again without waiting for the
    // driver to report more.
    struct AtExit {
        Station* station;
        int uncaught = std::uncaught_exceptions();
        ~AtExit() {
            station->displayChanged();
            if (std::uncaught_exceptions() > uncaught && !station->continuationPending_ && !station->closing_) {
                station->continuationPending_ = true;
                station->view_.continueSoon();
            }
        }
    } atExit{this};

    const auto sliceEnd = std::chrono::steady_clock::now() + kReceiveSlice;
    for (;;) {
        if (rxNext_ == rxChunk_.size()) {
            rxChunk_.clear();
            rxNext_ = 0;
            if (!lineOpen())
                break;  // bytes read before the port went away are handled all the same
            std::int32_t read = 0;
            try {
                const std::int32_t waiting = lineBytesWaiting();
                if (waiting > 0)
                    read = lineRead(rxChunk_, std::min(waiting, kReadChunk));
            } catch (const EComPort&) {
                if (CPort.EventThreadActive())
                    throw;
                portLost();  // the device went away under the read
                break;
            }
            if (read <= 0)
                break;
        }
        // Taken from the chunk before it is handled: a byte whose handling
        // fails is gone, the ones after it wait for the continuation.
        handleLineByte(static_cast<std::uint8_t>(rxChunk_[rxNext_++]));
        if (rxText_.flushDue() || rxHex_.flushDue())
            flushPanes();
        if (std::chrono::steady_clock::now() >= sliceEnd) {
            if (!continuationPending_ && !closing_) {
                continuationPending_ = true;
                view_.continueSoon();
            }
            break;
        }
    }
    showPendingReports();
}

// The panes show the line's bytes as they came; on a KISS line the RawByteLog
// takes them as they came too, and the frame finder the contents of each data
// frame for port 0.
void Station::handleLineByte(std::uint8_t b) {
    rxText_.appendByte(b);
    rxHex_.appendByte(b);
    if (!lineSource_.kiss()) {
        analyse(b);
        return;
    }
    logRawByte(b);
    if (deframer_.Push(b)) {
        kissFrame_.assign(deframer_.Frame());  // analysing may not outlive it
        kissFrameForwarded_ = false;
        for (char c : kissFrame_)
            analyse(static_cast<std::uint8_t>(c));
    }
    showKissState();
}

void Station::analyse(std::uint8_t b) {
    lastRxByte_.assign(1, static_cast<char>(b));
    aRXBufferAnalyse2Execute();
}

void Station::showKissState() {
    const kiss::KissCounters& k = deframer_.Counters();
    if (k.frames == kissShownFrames_ && k.damaged() == kissShownDropped_)
        return;
    kissShownFrames_ = k.frames;
    kissShownDropped_ = k.damaged();
    setStatus(StatusPanel::Kiss, "KISS " + std::to_string(k.frames) + "/" + std::to_string(k.damaged()));
}

bool Station::lineOpen() const { return tcp_ ? tcp_->IsOpen() : CPort.Connected(); }

std::int32_t Station::lineBytesWaiting() {
    if (!tcp_)
        return CPort.BytesWaiting();
    // A count, not a read: saturate rather than wrap (the read takes a chunk).
    return static_cast<std::int32_t>(std::min<std::size_t>(tcp_->BytesWaiting(), INT32_MAX));
}

std::int32_t Station::lineRead(std::string& chunk, std::int32_t count) {
    if (!tcp_)
        return CPort.ReadBytes(chunk, count);
    chunk.resize(std::size_t(count));
    bool newConnection = false;
    const std::size_t n = tcp_->Read(chunk.data(), chunk.size(), &newConnection);
    chunk.resize(n);
    if (newConnection)
        deframer_.Reset();  // a frame cut off by a lost connection does not go on
    return static_cast<std::int32_t>(n);
}

// Everything sent goes out as the line expects it: on a KISS line as one data
// frame for port 0, never as raw bytes into the TNC's framing.
void Station::lineWrite(const std::string& bytes) {
    const std::string out = lineSource_.kiss() ? kiss::EncodeDataFrame(bytes) : bytes;
    if (!tcp_) {
        CPort.WriteText(out);
        return;
    }
    if (!tcp_->Write(out))
        throw std::runtime_error("The TNC at " + tcp_->Address() + " is not connected");
}

void Station::tcpStateChanged(KissTcpLine::State state, const std::string& detail) {
    switch (state) {
    case KissTcpLine::State::Connected:
        tcpReported_ = false;
        setStatus(StatusPanel::Port, "TNC online");
        break;
    case KissTcpLine::State::Connecting: setStatus(StatusPanel::Port, "TNC offline"); break;
    case KissTcpLine::State::Lost:
        setStatus(StatusPanel::Port, "TNC lost");
        if (!tcpReported_) {
            tcpReported_ = true;
            pendingReports_.push_back("The TNC at " + tcp_->Address() + " went away" +
                                      (detail.empty() ? std::string() : " (" + detail + ")") +
                                      "; connecting again every " +
                                      std::to_string(std::chrono::seconds(KissTcpLine::kRetryInterval).count()) + " s");
            if (!continuationPending_ && !closing_) {
                continuationPending_ = true;
                view_.continueSoon();
            }
        }
        break;
    case KissTcpLine::State::Closed: setStatus(StatusPanel::Port, {}); break;
    }
}

// Shut-down: what the driver still holds goes to the RawByteLog before it
// closes, within a bound for a line that never falls silent.
void Station::drainReceived() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < until &&
           (rxNext_ < rxChunk_.size() || (lineOpen() && lineBytesWaiting() > 0)))
        receiveSlice();
}

void Station::continueReceive() {
    continuationPending_ = false;
    if (closing_)
        return;
    showPendingReports();
    if (rxNext_ < rxChunk_.size() || (lineOpen() && lineBytesWaiting() > 0))
        receiveSlice();
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
    Status& s = status_[std::size_t(StatusPanel::Receive)];
    s.text.assign(text);
    s.dirty = true;
}

void Station::setStatus(StatusPanel panel, std::string text) {
    Status& s = status_[std::size_t(panel)];
    if (s.text == text)
        return;
    s.text = std::move(text);
    s.dirty = true;
    displayChanged();
}

// A failing archive never stops reception: the byte is still shown, analysed
// and decoded; the failure is reported once and counted, and the next byte
// tries the log again.
void Station::writeRawByte(std::uint8_t byte) {
    if (!lineSource_.kiss())  // a KISS line's bytes were logged as they came
        logRawByte(byte);
}

void Station::logRawByte(std::uint8_t byte) {
    try {
        archive_.appendRawByte(byte);
    } catch (const EInOutError& e) {
        rawByteFailed(e);
        return;
    }
    if (rawByteLogFailing_) {
        rawByteLogFailing_ = false;
        showArchiveState();
    }
}

void Station::rawByteFailed(const EInOutError& error) {
    ++unarchivedBytes_;
    if (!rawByteLogFailing_) {
        rawByteLogFailing_ = true;
        pendingReports_.push_back(error.what());
    }
    showArchiveState();
}

void Station::beaconFileFailed(const EInOutError& error) {
    if (!beaconFilesFailing_) {
        beaconFilesFailing_ = true;
        pendingReports_.push_back(error.what());
    }
    showArchiveState();
}

void Station::showArchiveState() {
    std::string text;
    if (unarchivedBytes_ || unarchivedBeacons_) {
        text = "Unsaved " + std::to_string(unarchivedBytes_) + " B";
        if (unarchivedBeacons_)
            text += ", " + std::to_string(unarchivedBeacons_) + " bcn";
    }
    if (text.empty() && lineSource_.kiss())
        text = share_.StatusText();  // the KISS counts hold the last panel
    setStatus(StatusPanel::Archive, std::move(text));
}

// Where the forwarding stands: the last panel, or on a KISS line the
// archive's while the archive has nothing to say.
void Station::showShareState() {
    for (std::string& notice : share_.TakeNotices())
        pendingReports_.push_back(std::move(notice));
    if (lineSource_.kiss())
        showArchiveState();
    else
        setStatus(StatusPanel::Kiss, share_.StatusText());
}

void Station::GuardedStore::aSaveTempFileExecute(const BeaconRecord& currentRecord) {
    try {
        station_.archive_.aSaveTempFileExecute(currentRecord);
        station_.beaconFilesFailing_ = false;
    } catch (const EInOutError& e) {
        ++station_.unarchivedBeacons_;
        station_.beaconFileFailed(e);
    }
}

void Station::GuardedStore::aSaveBinFileExecute(const RawFrame& rawFrameCopy) {
    try {
        station_.archive_.aSaveBinFileExecute(rawFrameCopy);
    } catch (const EInOutError& e) {
        station_.beaconFileFailed(e);
    }
}

void Station::decodeFrame() {
    aDecodeTelemetry1Execute();
    const SystemTime utc = clock_.utcNow();
    if (!lineSource_.kiss())
        share_.Beacon({reinterpret_cast<const char*>(finder_.RawFrameCopy().data()), kBeaconFrameSize}, utc);
    else if (!std::exchange(kissFrameForwarded_, true))
        share_.Beacon(kissFrame_, utc);
    view_.beaconDecoded(finder_.CurrentRecord(), utc);
}

void Station::report(const std::string& text) {
    if (closing_) {
        std::fprintf(stderr, "kestrel-decoder: %s\n", text.c_str());
        return;
    }
    flushDisplay();
    ShowException(text);
}

void Station::showPendingReports() {
    std::vector<std::string> reports;
    reports.swap(pendingReports_);
    for (const std::string& text : reports)
        report(text);
}

void Station::showDecodedInfo(const std::vector<std::string>& lines) {
    decodedLines_ = lines;
    decodedDirty_ = true;
}

// ---- Display ---------------------------------------------------------------

void Station::displayChanged() {
    const bool statusDirty = std::any_of(status_.begin(), status_.end(), [](const Status& s) { return s.dirty; });
    if (displayTickPending_ || (rxText_.empty() && rxHex_.empty() && !statusDirty && !decodedDirty_))
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
    for (std::size_t i = 0; i < status_.size(); ++i) {
        if (status_[i].dirty) {
            status_[i].dirty = false;
            view_.showStatus(StatusPanel(i), status_[i].text);
        }
    }
    if (decodedDirty_) {
        decodedDirty_ = false;
        view_.showDecodedLines(decodedLines_);
    }
}

// ---- TNC send pane ---------------------------------------------------------

void Station::MemoTXKeyPress(char key) { lineWrite(std::string(1, key)); }

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
    lineWrite(text);
}

// ---- Test generator --------------------------------------------------------

void Station::aTestExecute() {
    aInitExecute();
    aFillBufferExecute();
    lineWrite(generator_.TestFrame);
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
        lineWrite(std::string(1, static_cast<char>(generator_.RandomByte())));
    } catch (...) {
    }
}

}  // namespace kestrel
