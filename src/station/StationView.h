#pragma once
// All that the station engine knows of a window.

#include <string_view>
#include <vector>
#include <string>

namespace kestrel {

enum class RxPane { Text, Hex };  // MemoRX, MEMORXHEX

class IStationView {
public:
    virtual ~IStationView() = default;

    // Received text for a pane (Latin-1, '\n' line breaks), added at its end.
    virtual void appendReceived(RxPane pane, std::string_view text) = 0;
    // Status bar panel 0 ("N=...").
    virtual void showReceiveStatus(std::string_view text) = 0;
    // Replaces what Memo1 shows.
    virtual void showDecodedLines(const std::vector<std::string>& lines) = 0;
    // Empties Memo1, then MEMORXHEX, then MemoRX.
    virtual void clearPanes() = 0;
    // Cuts each receive pane to its newest displayed lines (at most 20).
    virtual void trimPanes() = 0;
    // A plain message box; returns when it is dismissed.
    virtual void showMessage(const std::string& text) = 0;
    // Switches the generator's timer (TimerX) on or off.
    virtual void setStreamTimer(bool on) = 0;
    // Asks for Station::continueReceive() from the event loop as soon as it
    // has run its timers and painting.
    virtual void continueSoon() = 0;
    // Asks for Station::displayTick() in about a thirtieth of a second.
    virtual void displaySoon() = 0;
};

}  // namespace kestrel
