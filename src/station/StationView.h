#pragma once
// All that the station engine knows of a window.

#include "station/StationDialog.h"
#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

enum class RxPane { Text, Hex };  // MemoRX, MEMORXHEX

// The status bar: panel 0 shows the receive buffer ("N=..."); panels 1 to 3
// what the engine's status-bar model (StatusBar.h) lays out there.
inline constexpr int kReceivePanel = 0;

// A change to Memo1's text: lineCount whole lines from firstLine on are
// replaced by text. In the text with '\n' line breaks the first of them starts
// at `at` and they take `length` characters, the breaks between them counted.
struct DecodedEdit {
    int firstLine = 0;
    int lineCount = 0;
    std::size_t at = 0;
    std::size_t length = 0;
    std::string text;  // whole lines, '\n' between them
};

// Where the station stands (the [Share] section), for the trend window's map.
struct StationPosition {
    double latitude = 0, longitude = 0;
};

class IStationView {
public:
    virtual ~IStationView() = default;

    // Received text for a pane (Latin-1, '\n' line breaks), added at its end.
    virtual void appendReceived(RxPane pane, std::string_view text) = 0;
    // A status panel's text and its tooltip ("" for none), both drawn as given.
    virtual void showStatus(int panel, std::string_view text, std::string_view tip) = 0;
    // Whether text fits a status panel (1 to 3) whole as the window draws it.
    virtual bool statusTextFits(std::string_view text) = 0;
    // What Memo1 shows now (Latin-1, '\n' line breaks): the operator may
    // have typed into it.
    virtual std::string decodedText() = 0;
    // Applies one change to Memo1; the engine sends a beacon's changes last
    // line first, so each edit's place is still that of decodedText().
    virtual void editDecodedText(const DecodedEdit& edit) = 0;
    // Empties Memo1, then MEMORXHEX, then MemoRX.
    virtual void clearPanes() = 0;
    // Cuts each receive pane to its newest kTrimLines displayed lines.
    virtual void trimPanes() = 0;
    // The send pane's text (Latin-1, '\n' line breaks), for F9.
    virtual std::string sendPaneText() = 0;
    // Types text into the send pane where its caret is (a Tab, which the
    // pane itself would take as a move to the next control).
    virtual void insertInSendPane(std::string_view text) = 0;
    // Brings up the trend window of this session's beacons.
    virtual void showTrends(std::optional<StationPosition> station) = 0;
    // Adds the station's earlier beacons to the trend window: every
    // BeaconTextLog below the station folder but this run's own (whose
    // beacons come live); asked once, before the window is first shown.
    virtual void loadEarlierBeacons(const std::string& stationFolder, const std::string& thisRunsLog) {
        (void)stationFolder;
        (void)thisRunsLog;
    }
    // A close request came while a message box or the setup dialog is up:
    // dismisses them and asks for the close again once they have returned
    // (true); false when none is up.
    virtual bool dismissModals() = 0;
    // Switches the generator's timer (TimerX) on or off.
    virtual void setStreamTimer(bool on) = 0;
    // Asks for Station::continueReceive() from the event loop as soon as it
    // has run its timers and painting.
    virtual void continueSoon() = 0;
    // Asks for Station::displayTick() after Station::kDisplayInterval.
    virtual void displaySoon() = 0;
    // A short sound: a key the line cannot carry was refused.
    virtual void beep() = 0;
    // Runs the station dialog modally (F3); OK goes to model.apply.
    virtual void runStationDialog(StationDialogModel& model) { (void)model; }
    // A beacon was decoded and archived (as far as the archive could), at utc.
    virtual void beaconDecoded(const BeaconRecord& record, const SystemTime& utc) {
        (void)record;
        (void)utc;
    }
};

}  // namespace kestrel
