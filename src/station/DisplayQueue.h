#pragma once
// What waits to be painted: received text for the two panes, the status
// bar (panel 0's text and the model of panels 1 to 3) and Memo1's lines.
// Receiving is cheap and painting dear (laying out and drawing the panes costs
// more than handling their bytes), so a burst is painted at one display tick,
// at most every kDisplayInterval, and at once before any message box, at the
// one-second trim and at Clear. Memo1 gets only the lines that changed: a new
// beacon's text mostly repeats the last one's labels, and laying the whole
// pane out again for every beacon cost more than receiving it.

#include "station/RxPaneText.h"
#include "station/StationView.h"
#include "station/StatusBar.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class DisplayQueue {
public:
    // Ten times a second still reads as a live stream.
    static constexpr auto kDisplayInterval = std::chrono::milliseconds(100);

    explicit DisplayQueue(IStationView& view) : view_(view) {}

    // A received byte for both panes; a long burst is handed on in pieces, so
    // what waits stays bounded.
    void appendByte(std::uint8_t b);
    // The ReceiveBuffer's length after the latest byte, shown in panel 0 as
    // "N=<length>" with the rest of the byte's display.
    void setReceiveLength(std::uint16_t length) {
        receiveLength_ = length;
        receiveStatusDirty_ = true;
    }
    // What a source has to say in panels 1 to 3 (StatusBar::post); a change
    // asks for a display tick.
    void post(StatusSource source, std::string text, std::string details = {});
    const StatusBar& statusBar() const { return statusBar_; }
    // Whose text panel (1 to 3) shows as painted; none for an empty panel.
    std::optional<StatusSource> shownSource(int panel) const {
        return panel >= 1 && panel <= int(shown_.size()) ? shown_[std::size_t(panel - 1)].source : std::nullopt;
    }
    // Memo1's new lines.
    void setDecoded(std::vector<std::string> lines);

    // Asks for a display tick when something waits and none is asked for.
    void changed();
    // The display tick asked for arrived.
    void tick();
    // Shows everything that waits.
    void flush();
    // Drops the panes' and Memo1's waiting text (the status texts stay).
    void clear();

private:
    void flushPanes();
    void flushDecoded();

    IStationView& view_;
    RxPaneText rxText_{RxPaneText::Mode::Text};
    RxPaneText rxHex_{RxPaneText::Mode::Hex};
    std::uint16_t receiveLength_ = 0;
    bool receiveStatusDirty_ = false;
    StatusBar statusBar_;
    StatusBar::Layout shown_;  // panels 1 to 3 as the window has them
    bool statusBarDirty_ = false;
    std::vector<std::string> decoded_;
    bool decodedDirty_ = false;
    bool tickPending_ = false;
};

// The lines with '\n' between them.
std::string JoinLines(const std::vector<std::string>& lines);
// What turns Memo1's text shown into lines: the runs of lines that differ,
// the last run first (see IStationView::editDecodedText).
std::vector<DecodedEdit> DecodedEdits(std::string_view shown, const std::vector<std::string>& lines);

}  // namespace kestrel
