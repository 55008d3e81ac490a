// The display queue: collects what the receive path shows and paints it in
// batches (see DisplayQueue.h).

#include "station/DisplayQueue.h"

namespace kestrel {

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            text += '\n';
        text += lines[i];
    }
    return text;
}

void DisplayQueue::appendByte(std::uint8_t b) {
    rxText_.appendByte(b);
    rxHex_.appendByte(b);
    if (rxText_.flushDue() || rxHex_.flushDue())
        flushPanes();
}

void DisplayQueue::setReceiveStatus(std::string_view text) {
    receiveStatus_.assign(text);
    receiveStatusDirty_ = true;
}

void DisplayQueue::post(StatusSource source, std::string text, std::string details) {
    if (!statusBar_.post(source, std::move(text), std::move(details)))
        return;
    statusBarDirty_ = true;
    changed();
}

void DisplayQueue::setDecoded(const std::vector<std::string>& lines) {
    decoded_ = JoinLines(lines);
    decodedDirty_ = true;
}

void DisplayQueue::changed() {
    const bool statusDirty = receiveStatusDirty_ || statusBarDirty_;
    if (tickPending_ || (rxText_.empty() && rxHex_.empty() && !statusDirty && !decodedDirty_))
        return;
    tickPending_ = true;
    view_.displaySoon();
}

void DisplayQueue::tick() {
    tickPending_ = false;
    flush();
}

void DisplayQueue::flushPanes() {
    if (!rxText_.empty())
        view_.appendReceived(RxPane::Text, rxText_.take());
    if (!rxHex_.empty())
        view_.appendReceived(RxPane::Hex, rxHex_.take());
}

void DisplayQueue::flush() {
    flushPanes();
    if (receiveStatusDirty_) {
        receiveStatusDirty_ = false;
        view_.showStatus(kReceivePanel, receiveStatus_, {});
    }
    if (statusBarDirty_) {
        // Laid out here, not at each post: a KISS count may change with
        // every frame, and only what is painted needs measuring.
        statusBarDirty_ = false;
        const StatusBar::Layout panels =
            statusBar_.layout([this](std::string_view text) { return view_.statusTextFits(text); });
        for (std::size_t i = 0; i < panels.size(); ++i) {
            if (panels[i] == shown_[i])
                continue;
            shown_[i] = panels[i];
            view_.showStatus(int(i) + 1, shown_[i].text, shown_[i].tip);
        }
    }
    if (decodedDirty_) {
        decodedDirty_ = false;
        view_.showDecodedText(decoded_);
    }
}

void DisplayQueue::clear() {
    rxText_.clear();
    rxHex_.clear();
    decodedDirty_ = false;
}

}  // namespace kestrel
