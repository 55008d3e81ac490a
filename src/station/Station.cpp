// The station engine's conductor: builds and wires the parts, runs start-up,
// shut-down and the ticks, and passes each window handler to its part.
//
// Sections:
//   Construction            the parts wired; the port's designed settings
//   Start-up and shut-down  FormCreate, the settings notes, the line chosen,
//                           FormClose, closeRequested
//   Actions                 runAction, the trend window, a key in the send pane
//   Buttons and timers      Clear, Settings, the one-second tick, forwarding's
//                           state on the status bar
//   Receive path            a receive event and its continuation, a decoded
//                           beacon's one receive time
//   Reports                 a port that will not open, reports raised in a slice

#include "station/Station.h"

#include "station/PortFailure.h"
#include "station/StationFolder.h"
#include "telemetry/TimeIndex.h"

#include <clocale>
#include <cstdio>
#include <exception>
#include <locale>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestrel {
namespace {

// Shut-down reports nothing on screen; what failed is still written down.
template <class F>
void ShutDownStep(Notices& notices, const std::string& what, F&& step) noexcept {
    try {
        try {
            step();
        } catch (const std::exception& e) {
            notices.say(what + " failed at shut-down: " + e.what());
        } catch (...) {
            notices.say(what + " failed at shut-down");
        }
    } catch (...) {
    }
}

// A failure's text with the system's reason after it, when there is one.
std::string WithReason(const std::string& text, const std::string& reason) {
    return reason.empty() ? text : text + " (" + reason + ")";
}

// How the station log tells a shut-down step that failed (ShutDownStep).
constexpr std::string_view kFailedAtShutDown = " failed at shut-down";

}  // namespace

// ---- Construction -------------------------------------------------------------

Station::Station(IStationView& view, StationSeams seams)
    : CPort(std::move(seams.device)),
      view_(view),
      clock_(seams.clock ? *seams.clock : systemClock()),
      fileSystem_(seams.fileSystem ? *seams.fileSystem : systemFileSystem()),
      mailbox_(seams.mailbox),
      archive_(fileSystem_, clock_),
      decoder_(clock_, *this, guard_),
      finder_(*this),
      receiver_(display_, guard_, continuation_, clock_, finder_),
      console_(view_, clock_, [this](const std::string& bytes) { line_->send(bytes); }),
      beforeMessage_([this] { flushDisplay(); }) {
    designPortSettings(mailbox_);
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
    noteUnwritableFolder(TakeStartFolderProblem());
    noteSettingsFallbacks();
    noteSecondProgram();
    showShareState();
    try {
        line_->open();
    } catch (...) {
        portFailed(kStartUpPortError);
    }
}

// Not hidden: what the settings file holds that is not used as written, on
// the status bar until the operator sets the port up (every note in the
// panel's tooltip).
void Station::noteSettingsFallbacks() {
    const std::vector<std::string>& notes = CPort.SettingsFileNotes();
    if (notes.empty())
        return;
    for (const std::string& note : notes)
        notices_.say(std::string(kSettingsFileName) + ": " + note);
    std::string text = "Settings: " + notes.front();
    if (notes.size() > 1)
        text += " (and " + std::to_string(notes.size() - 1) + " more)";
    display_.post(StatusSource::Settings, std::move(text), notes.size() > 1 ? JoinLines(notes) : std::string());
}

// A second program on one station folder receives, archives under names of
// its own and forwards through an outbox of its own; the clean-up of
// temporaries is left to a program alone on the folder.
void Station::noteSecondProgram() {
    if (!stationLock_.shared())
        return;
    std::string text = "Another program is using the station folder " + baseDirectory_ +
                       ". This one archives in its Telemetry folder under names of its own";
    text += share_.Forwarding() ? " and forwards its beacons through " + share_.OutboxPath() + "." : ".";
    continuation_.report(std::move(text));
}

// A folder where nothing can be made (a launcher's "/", a read-only folder)
// is said at once, with the system's reason: otherwise the beacons would
// only be shown, and the first lost byte would say no more than an error
// number. What the archive loses after this is counted in its panel.
// startProblem: why --station could not enter the station folder; said in
// the same box, which it explains.
void Station::noteUnwritableFolder(std::string startProblem) {
    if (stationLock_.state() != StationLock::State::Unusable) {
        if (!startProblem.empty())
            continuation_.report(std::move(startProblem));
        if (!log_.Problem().empty())
            continuation_.report(log_.Problem());
        return;
    }
    std::string where = baseDirectory_;
    std::string why = FolderWriteProblem(where);
    if (why.empty()) {  // then it is the Telemetry folder (a file in its place, say)
        where = JoinPath(baseDirectory_, "Telemetry");
        why = FolderWriteProblem(where);
    }
    if (why.empty())
        why = stationLock_.why();
    // Started from the menu, "start it from the menu" would send the operator
    // back where they are: the station folder itself must be mended.
    const std::string station = StartedForStationFolder() ? PersonalStationFolder() : std::string();
    const std::string advice =
        !StartedForStationFolder() ? "start the program in a folder you can write to, or from the menu"
        : station.empty()
            ? "start the program from a terminal in a folder you can write to"
            : "make " + station + " a folder you can write to (or free its disk) and start the program again";
    std::string text = "Nothing received is archived in " + where + " (" + why + "): " + advice;
    continuation_.report(startProblem.empty() ? std::move(text) : std::move(startProblem) + ". " + text);
    guard_.failingFromStart();
}

// The last run's shut-down failures, as its log has them: whoever starts the
// program next sees that the settings (or the logs) may not be as they were.
void Station::showLastExit() {
    std::string failures;
    for (const std::string& line : log_.PreviousRun()) {
        if (StationLogText(line).find(kFailedAtShutDown) == std::string_view::npos)
            continue;
        failures += failures.empty() ? "At the last shut-down (" + log_.path() + "):\n" : "\n";
        failures += line;
    }
    if (failures.empty())
        return;
    display_.post(StatusSource::LastExit, kLastExitText, failures + "\n(Click to dismiss.)");
    lastExitShownAt_ = clock_.tickCount();
}

void Station::dismissLastExit() {
    lastExitShownAt_.reset();
    display_.post(StatusSource::LastExit, {});
}

void Station::statusPanelClicked(int panel) {
    if (display_.shownSource(panel) == StatusSource::LastExit)
        dismissLastExit();
    flushDisplay();
}

// Forwarding as the settings file's [Share] says; it never stops reception.
void Station::startSharing() {
    share_.Start(settingsFilePath_, baseDirectory_, stationLock_.slot(), fileSystem_, clock_);
    if (!share_.Settings().problem.empty())
        notices_.say(share_.Settings().problem);
}

void Station::chooseLine() {
    switch (lineSource_.kind) {
    case LineSourceSettings::Serial:
        line_ = std::make_unique<SerialLine>(CPort, false, display_, continuation_);
        return;
    case LineSourceSettings::SerialKiss:
        line_ = std::make_unique<SerialLine>(CPort, true, display_, continuation_);
        return;
    case LineSourceSettings::KissTcp:
        line_ = std::make_unique<TcpKissLine>(
            lineSource_, mailbox_, [this] { CPortRxByte(); }, display_, continuation_);
        return;
    }
}

void Station::FormClose() {
    if (closed_)
        return;
    closed_ = true;
    continuation_.close();  // from here on no box opens and no received byte is handled
    // What was raised and not shown yet is written down already; it never opens.
    for (const std::string& text : continuation_.takeReports())
        std::fprintf(stderr, "kestrel-decoder: (closing, not shown) %s\n", FormatReportText(text).c_str());
    DropWaitingReports();  // the Windows program ends from inside the box's loop
    ShutDownStep(notices_, "taking the last received bytes", [&] { receiver_.drain(*line_); });
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
            receiver_.slice(*line_);
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
    receiver_.slice(*line_);
    showPendingReports();
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
    if (const auto b = finder_.LastRxByte())
        finder_.aRXBufferAnalyse2Execute(*b);
}

void Station::aDecodeTelemetry1Execute() {
    decoder_.aDecodeTelemetry1Execute(finder_.CurrentRecord(), finder_.RawFrameCopy(), beaconUtc_);
}

// A beacon has one receive time, read once: the pane, the BeaconTextLog, the
// RawFrameFile's name, forwarding and the trends all take this one.
void Station::decodeFrame() {
    beaconUtc_ = utcFromMilliseconds(receiver_.readTimeMs());
    aDecodeTelemetry1Execute();
    if (!line_->kiss())
        share_.Beacon({reinterpret_cast<const char*>(finder_.RawFrameCopy().data()), kBeaconFrameSize}, beaconUtc_);
    else if (const std::string* frame = receiver_.takeKissFrame())
        share_.Beacon(*frame, beaconUtc_);  // the whole data frame, as the TNC delivered it
    view_.beaconDecoded(finder_.CurrentRecord(), beaconUtc_);
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
