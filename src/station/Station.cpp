// The station engine's conductor: builds and wires the parts, runs start-up,
// shut-down and the ticks, and passes each window handler to its part.
//
// Sections:
//   Construction            the parts wired; the port's designed settings
//   Start-up and shut-down  FormCreate (its notes: StationNotes.cpp), the
//                           line chosen, FormClose, closeRequested
//   Actions                 runAction, the trend window, a key in the send pane
//   Buttons and timers      Clear, Settings, the one-second tick, forwarding's
//                           state on the status bar
//   Receive path            a receive event and its continuation, a decoded
//                           beacon's one receive time
//   Reports                 a port that will not open, reports raised in a slice

#include "station/Station.h"

#include "station/PortFailure.h"
#include "station/RunNotes.h"
#include "station/StationFolder.h"
#include "telemetry/TimeIndex.h"

#include <chrono>
#include <clocale>
#include <cstdio>
#include <exception>
#include <locale>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestrel {
namespace {

// A failure's text with the system's reason after it, when there is one.
std::string WithReason(const std::string& text, const std::string& reason) {
    return reason.empty() ? text : text + " (" + reason + ")";
}

}  // namespace

// ---- Construction -------------------------------------------------------------

Station::Station(IStationView& view, StationSeams seams)
    : CPort(std::move(seams.device)),
      view_(view),
      clock_(seams.clock ? *seams.clock : systemClock()),
      fileSystem_(seams.fileSystem ? *seams.fileSystem : systemFileSystem()),
      mailbox_(seams.mailbox),
      archive_(fileSystem_, clock_),
      decoder_(clock_),
      receiver_(display_, guard_, continuation_, clock_, finder_),
      console_(view_, clock_, [this](const std::string& bytes) { line_->send(bytes); }),
      beforeMessage_([this] { flushDisplay(); }) {
    DesignPortSettings(CPort, mailbox_);
    line_ = std::make_unique<SerialLine>(CPort, false, display_, continuation_);
    CPort.OnRxChar = [this](TCustomComPort&, std::int32_t) { CPortRxByte(); };
    notices_.listen([this](const std::string& text) { log_.write(text); });
    SetErrorNotices([this](const std::string& text) { notices_.say(text); });
}

// The teardown order, for every front end: the lines go first, so nothing
// they deliver reaches a half-destroyed engine or window.
Station::~Station() {
    SetErrorNotices(nullptr);
    line_.reset();
    CPort.OnRxChar = nullptr;
    try {
        CPort.ClosePort();
    } catch (...) {
    }
}

// ---- Start-up and shut-down -------------------------------------------------

void Station::FormCreate() {
    // One number format for the whole process, whatever the toolkit or the
    // user's locale set: "." as the decimal separator everywhere.
    std::setlocale(LC_NUMERIC, "C");
    std::locale::global(std::locale::classic());
    baseDirectory_ = fileSystem_.currentDirectory();
    log_.open(baseDirectory_);  // before anything it may have to write down
    showLastExit();
    settingsFilePath_ = JoinPath(baseDirectory_, kSettingsFileName);
    CPort.LoadSettingsFile(settingsFilePath_);  // a failure skips the rest
    lineSource_.Load(*CreateProfileStore(), settingsFilePath_);
    stationLock_.take(baseDirectory_);
    startSharing();
    console_.setStream(false);
    aRXBufferInitExecute();
    try {
        archive_.openRunFiles(baseDirectory_, stationLock_.shared());  // the run goes on without its files
    } catch (...) {
    }
    chooseLine();
    noteStartUp(TakeStartFolderProblem());
    showShareState();
    try {
        line_->open();
    } catch (...) {
        portFailed(kStartUpPortError);
    }
}

// Forwarding as the settings file's [Share] says; it never stops reception.
void Station::startSharing() {
    share_.Start(settingsFilePath_, baseDirectory_, stationLock_.slot(), fileSystem_, clock_);
    if (!share_.Settings().problem.empty())
        notices_.say(share_.Settings().problem);
}

void Station::chooseLine() {
    line_ = ChooseLine(
        lineSource_, CPort, mailbox_, [this] { CPortRxByte(); }, display_, continuation_);
}

void Station::FormClose() {
    if (closed_)
        return;
    closed_ = true;
    continuation_.close();  // from here on no box opens and no received byte is handled
    // What was raised and not shown yet is written down already; it never opens.
    for (const std::string& text : continuation_.takeReports())
        report(text);
    DropWaitingReports();  // the Windows program ends from inside the box's loop
    ShutDownStep(notices_, "taking the last received bytes", [&] { drain(); });
    ShutDownStep(notices_, "stopping the telemetry forwarding", [&] {
        share_.Stop();
        for (const std::string& notice : share_.TakeNotices())  // the forwarder's last words
            notices_.say(notice);
    });
    ShutDownStep(notices_, "closing the raw byte log", [&] { archive_.closeRawByteLog(); });
    ShutDownStep(notices_, "storing the settings in " + settingsFilePath_, [&] {
        try {
            CPort.SaveSettingsFile(settingsFilePath_);
        } catch (const EComPort& e) {
            throw std::runtime_error(WithReason(e.what(), CPort.SettingsStoreProblem()));
        }
        const auto store = CreateProfileStore();
        if (!lineSource_.Save(*store, settingsFilePath_))
            throw std::runtime_error(WithReason("the [Line] section could not be written", store->WhyNotWritten()));
    });
    ShutDownStep(notices_, "closing the line", [&] { line_->close(); });
}

bool Station::closeRequested() noexcept {
    CloseReports();
    bool modalsUp = false;
    Guarded([&] { modalsUp = view_.dismissModals(); });
    if (modalsUp)
        return false;
    Guarded([this] { FormClose(); });
    return true;
}

// ---- Actions -----------------------------------------------------------------

void Station::runAction(design::ActionId id) {
    switch (id) {
    case design::aInit: aInitExecute(); return;
    case design::aFillBuffer: aFillBufferExecute(); return;
    case design::aRXBufferInit: aRXBufferInitExecute(); return;
    case design::aRXBufferAnalyse2: aRXBufferAnalyse2Execute(); return;
    case design::aDecodeTelemetry1: aDecodeTelemetry1Execute(); return;
    case design::aSaveTempFile: aSaveTempFileExecute(); return;
    case design::aM4: aM4Execute(); return;
    case design::aTest: aTestExecute(); return;
    case design::aSaveBinFile: aSaveBinFileExecute(); return;
    case design::aTNCSend: aTNCSendExecute(); return;
    case design::aTrends: aTrendsExecute(); return;
    case design::aStation: aStationExecute(); return;
    case design::kActionCount: break;
    }
    throw std::invalid_argument("no action " + std::to_string(int(id)));
}

void Station::aTrendsExecute() {
    if (!std::exchange(earlierBeaconsShown_, true))
        view_.loadEarlierBeacons(baseDirectory_, archive_.BeaconTextLogPath());
    const ShareSettings& sharing = share_.Settings();
    view_.showTrends(sharing.hasPosition ? std::optional<StationPosition>({sharing.latitude, sharing.longitude})
                                         : std::nullopt);
}

bool Station::MemoTXKey(PaneKey key, char32_t character) noexcept {
    try {
        const bool paneHandles = console_.keyPressed(key, character);
        if (paneHandles && key == PaneKey::Tab) {
            view_.insertInSendPane("\t");  // and the focus stays
            return false;
        }
        return paneHandles;
    } catch (...) {
        ShowCurrentException();
        return false;  // what did not go out is not shown either
    }
}

// ---- Buttons and timers ----------------------------------------------------

void Station::bClearClick() {
    line_->purge();
    receiver_.drop();
    flushDisplay();  // the status text stays as the last byte left it
    display_.clear();
    view_.clearPanes();
    aRXBufferInitExecute();
}

void Station::bSettingsClick(const std::function<void()>& runDialog) {
    settingsBeforeDialog();
    runDialog();
    settingsAfterDialog();
}

void Station::settingsBeforeDialog() {
    console_.setStream(false);
    line_->closeForSettings();
    receiver_.drop();
}

void Station::settingsAfterDialog() {
    try {
        line_->reopenAfterSettings();
    } catch (...) {
        portFailed(kSettingsPortError);
        return;
    }
    if (!lineProblem_.empty()) {
        lineProblem_.clear();
        display_.post(StatusSource::Line, {});
    }
    display_.post(StatusSource::Settings, {});  // the port is set as the operator chose now
}

void Station::Timer1Timer() {
    if (closed_)
        return;  // a tick queued behind the close must not make or reopen anything
    flushDisplay();
    view_.trimPanes();
    const bool retryDue = --retryCountdown_ <= 0;
    if (retryDue)
        retryCountdown_ = kRetryTicks;
    line_->tick(retryDue);
    // Bytes the line holds that no receive event announced (one lost on the
    // way, a read that came back empty) wait at most until this tick. What
    // they raise is shown by the continuation, not by the tick.
    try {
        if (receiver_.waiting(*line_))
            receiveSlice();
    } catch (const EComPort&) {
        // A line that fails its count is the receive path's and the loss check's to report.
    }
    if (retryDue)
        guard_.retryRawByteLog();
    showShareState();
    if (lastExitShownAt_ && clock_.tickCount() - *lastExitShownAt_ >= kLastExitShownMs)
        dismissLastExit();
}

// Where the forwarding stands; a [Share] fault's whole sentence in the tooltip.
void Station::showShareState() {
    for (std::string& notice : share_.TakeNotices())
        continuation_.report(std::move(notice));
    display_.post(StatusSource::Share, share_.StatusText(), share_.StatusTip());
}

// ---- Receive path -----------------------------------------------------------

void Station::CPortRxByte() {
    if (continuation_.closing())
        return;  // the logs are closing or closed
    receiveSlice();
}

void Station::receiveSlice() {
    decodeSlice();
    showPendingReports();
}

void Station::decodeSlice() {
    Receiver::Slice slice = receiver_.slice(*line_);
    while (const ReceivedFrame* received = slice.next())
        decodeFrame(*received);
}

void Station::drain() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < until && receiver_.waiting(*line_))
        decodeSlice();
}

void Station::continueReceive() {
    continuation_.arrived();
    if (continuation_.closing())
        return;
    showPendingReports();
    if (receiver_.waiting(*line_))
        receiveSlice();
}

void Station::aRXBufferAnalyse2Execute() {
    const auto b = finder_.LastRxByte();
    if (!b)
        return;
    if (const FoundFrame* frame = finder_.aRXBufferAnalyse2Execute(*b))
        decodeFrame({frame, receiver_.readTimeMs(), nullptr});
    display_.setReceiveLength(finder_.lengthAfterLastByte());
}

void Station::aDecodeTelemetry1Execute() {
    std::vector<std::string> lines = decoder_.aDecodeTelemetry1Execute(finder_.CurrentRecord(), beaconUtc_);
    guard_.archiveBeacon(finder_.CurrentRecord(), finder_.RawFrameCopy(), beaconUtc_);
    display_.setDecoded(std::move(lines));
}

// What happens to a beacon, in this order. It has one receive time, read
// once: the pane, the BeaconTextLog, the RawFrameFile's name, forwarding and
// the trends all take this one.
void Station::decodeFrame(const ReceivedFrame& received) {
    const FoundFrame& frame = *received.frame;
    beaconUtc_ = utcFromMilliseconds(received.readMs);
    std::vector<std::string> lines = decoder_.aDecodeTelemetry1Execute(frame.record, beaconUtc_);  // counted
    guard_.archiveBeacon(frame.record, frame.raw, beaconUtc_);  // archive: its BeaconTextLog line, its RawFrameFile
    display_.setDecoded(std::move(lines));                      // the decoded pane
    if (!line_->kiss())                                         // forwarding
        share_.Beacon({reinterpret_cast<const char*>(frame.raw.data()), kBeaconFrameSize}, beaconUtc_);
    else if (received.kissFrame)
        share_.Beacon(*received.kissFrame, beaconUtc_);  // the whole data frame, as the TNC delivered it
    view_.beaconDecoded(frame.record, beaconUtc_);       // the trend sample
}

// ---- Reports ------------------------------------------------------------------

// The designed box says only "Check settings."; why the port would not open
// goes to the port's status panel and is written down (notices).
void Station::portFailed(const char* message) {
    const std::string reason = PortFailureReason(CPort.Port(), std::current_exception());
    notices_.say(reason);
    display_.post(StatusSource::Line, reason);
    lineProblem_ = reason;
    flushDisplay();
    ShowMessage(message);
}

// Written down when it was raised (Continuation::report); here it is shown.
void Station::report(const std::string& text) {
    if (continuation_.closing()) {
        std::fprintf(stderr, "kestrel-decoder: (closing, not shown) %s\n", FormatReportText(text).c_str());
        return;
    }
    flushDisplay();
    ShowNotice(text);
}

void Station::showPendingReports() {
    while (const auto text = continuation_.takeReport())
        report(*text);
}

}  // namespace kestrel
