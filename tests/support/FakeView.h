#pragma once
// The window the station engine's tests give it: it keeps what a window would
// show and counts what the engine asked of it. Memo1's edits are applied as
// both windows apply them, and each is checked against the text it edits.

#include "station/StationView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::test {

class FakeView : public IStationView {
public:
    std::string text, hex, status, decoded, sendPane;
    std::array<std::string, 4> panels, tips;  // status panels 1 to 3 at [1] to [3]
    std::vector<DecodedEdit> edits;           // Memo1's, in the order they came
    std::vector<SystemTime> beaconTimes;
    std::vector<std::optional<StationPosition>> trendsShown;
    std::vector<StationDialogModel> stationDialogs;                   // each as it opened
    std::vector<std::pair<std::string, std::string>> earlierBeacons;  // station folder, this run's log
    int paints = 0;                                                   // calls that reached a pane, the status or Memo1
    int displayRequests = 0, continueRequests = 0, clears = 0, trims = 0, beeps = 0;
    int modalsUp = 0, dismissals = 0;  // boxes up; a close request dismisses them
    bool streamTimer = false;

    void appendReceived(RxPane pane, std::string_view t) override {
        ++paints;
        (pane == RxPane::Text ? text : hex) += t;
    }
    void showStatus(int panel, std::string_view t, std::string_view tip) override {
        ++paints;
        (panel == kReceivePanel ? status : panels[std::size_t(panel)]) = t;
        tips[std::size_t(panel)] = tip;
    }
    // About what a 100-pixel panel holds of the window's font.
    bool statusTextFits(std::string_view t) override { return t.size() <= 14; }
    // What a panel says whole: its tooltip when it has one.
    std::string said(int panel) const {
        const std::size_t i = std::size_t(panel);
        return tips[i].empty() ? panels[i] : tips[i];
    }
    std::string decodedText() override { return decoded; }
    void editDecodedText(const DecodedEdit& e) override {
        ++paints;
        const auto breaks = [&](std::size_t from, std::size_t to) {
            return int(std::count(decoded.begin() + std::ptrdiff_t(from), decoded.begin() + std::ptrdiff_t(to), '\n'));
        };
        const bool fits = e.at + e.length <= decoded.size() && (e.at == 0 || decoded[e.at - 1] == '\n') &&
                          (e.at + e.length == decoded.size() || decoded[e.at + e.length] == '\n') &&
                          breaks(0, e.at) == e.firstLine && breaks(e.at, e.at + e.length) == e.lineCount - 1;
        if (!fits) {
            ADD_FAILURE() << "an edit of lines " << e.firstLine << "+" << e.lineCount << " at " << e.at << "+"
                          << e.length << " does not fit whole lines of:\n"
                          << decoded;
            return;
        }
        edits.push_back(e);
        decoded.replace(e.at, e.length, e.text);
    }
    void clearPanes() override {
        ++clears;
        text.clear();
        hex.clear();
        decoded.clear();
    }
    void trimPanes() override { ++trims; }
    std::string sendPaneText() override { return sendPane; }
    void insertInSendPane(std::string_view t) override { sendPane += t; }
    void showTrends(std::optional<StationPosition> station) override { trendsShown.push_back(station); }
    bool dismissModals() override {
        if (!modalsUp)
            return false;
        ++dismissals;
        return true;
    }
    void setStreamTimer(bool on) override { streamTimer = on; }
    void continueSoon() override { ++continueRequests; }
    void displaySoon() override { ++displayRequests; }
    void beep() override { ++beeps; }
    void beaconDecoded(const BeaconRecord&, const SystemTime& utc) override { beaconTimes.push_back(utc); }
    void runStationDialog(StationDialogModel& model) override { stationDialogs.push_back(model); }
    void loadEarlierBeacons(const std::string& folder, const std::string& thisRunsLog) override {
        earlierBeacons.emplace_back(folder, thisRunsLog);
    }
};

}  // namespace kestrel::test
