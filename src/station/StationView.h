#pragma once
// All that the station engine knows of a window.

#include "telemetry/BeaconFrame.h"
#include "telemetry/Clock.h"

#include <string>
#include <string_view>

namespace kestrel {

enum class RxPane { Text, Hex };  // MemoRX, MEMORXHEX

// The status bar: panel 0 shows the receive buffer ("N=..."); panels 1 to 3
// what the engine's status-bar model (StatusBar.h) lays out there.
inline constexpr int kReceivePanel = 0;

class IStationView {
public:
    virtual ~IStationView() = default;

    // Received text for a pane (Latin-1, '\n' line breaks), added at its end.
    virtual void appendReceived(RxPane pane, std::string_view text) = 0;
    // A status panel's text and its tooltip ("" for none), both drawn as given.
    virtual void showStatus(int panel, std::string_view text, std::string_view tip) = 0;
    // Whether text fits a status panel (1 to 3) whole as the window draws it.
    virtual bool statusTextFits(std::string_view text) = 0;
    // Replaces what Memo1 shows (Latin-1, '\n' line breaks).
    virtual void showDecodedText(std::string_view text) = 0;
    // Empties Memo1, then MEMORXHEX, then MemoRX.
    virtual void clearPanes() = 0;
    // Cuts each receive pane to its newest kTrimLines displayed lines.
    virtual void trimPanes() = 0;
    // A plain message box; returns when it is dismissed.
    virtual void showMessage(const std::string& text) = 0;
    // Switches the generator's timer (TimerX) on or off.
    virtual void setStreamTimer(bool on) = 0;
    // Asks for Station::continueReceive() from the event loop as soon as it
    // has run its timers and painting.
    virtual void continueSoon() = 0;
    // Asks for Station::displayTick() after Station::kDisplayInterval.
    virtual void displaySoon() = 0;
    // A short sound: a key the line cannot carry was refused.
    virtual void beep() = 0;
    // A beacon was decoded and archived (as far as the archive could), at utc.
    virtual void beaconDecoded(const BeaconRecord& record, const SystemTime& utc) {
        (void)record;
        (void)utc;
    }
};

}  // namespace kestrel
