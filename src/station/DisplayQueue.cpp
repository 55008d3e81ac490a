// The display queue: collects what the receive path shows and paints it in
// batches (see DisplayQueue.h).

#include "station/DisplayQueue.h"

#include <algorithm>

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
    Status& s = status_[std::size_t(StatusPanel::Receive)];
    s.text.assign(text);
    s.dirty = true;
}

void DisplayQueue::setStatus(StatusPanel panel, std::string text) {
    Status& s = status_[std::size_t(panel)];
    if (s.text == text)
        return;
    s.text = std::move(text);
    s.dirty = true;
    changed();
}

void DisplayQueue::setDecoded(const std::vector<std::string>& lines) {
    decoded_ = JoinLines(lines);
    decodedDirty_ = true;
}

void DisplayQueue::changed() {
    const bool statusDirty = std::any_of(status_.begin(), status_.end(), [](const Status& s) { return s.dirty; });
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
    for (std::size_t i = 0; i < status_.size(); ++i) {
        if (status_[i].dirty) {
            status_[i].dirty = false;
            view_.showStatus(StatusPanel(i), status_[i].text);
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
