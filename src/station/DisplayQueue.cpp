// The display queue: collects what the receive path shows and paints it in
// batches (see DisplayQueue.h).

#include "station/DisplayQueue.h"

#include <algorithm>

namespace kestrel {

namespace {

template <class Lines>
std::string Joined(const Lines& lines, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from)
            text += '\n';
        text += lines[i];
    }
    return text;
}

}  // namespace

std::string JoinLines(const std::vector<std::string>& lines) { return Joined(lines, 0, lines.size()); }

std::vector<DecodedEdit> DecodedEdits(std::string_view shown, const std::vector<std::string>& lines) {
    // An empty text is one empty line, as a pane shows it.
    std::vector<std::string_view> old;
    std::vector<std::size_t> start;
    for (std::size_t at = 0;;) {
        const std::size_t end = std::min(shown.find('\n', at), shown.size());
        start.push_back(at);
        old.push_back(shown.substr(at, end - at));
        if (end == shown.size())
            break;
        at = end + 1;
    }
    static const std::vector<std::string> kEmpty{std::string()};
    const std::vector<std::string>& now = lines.empty() ? kEmpty : lines;
    const std::size_t common = std::min(old.size(), now.size());
    // The last common line takes the lines one side has beyond the other.
    auto differs = [&](std::size_t i) { return old[i] != now[i] || (i + 1 == common && old.size() != now.size()); };
    std::vector<DecodedEdit> edits;
    for (std::size_t i = 0; i < common;) {
        if (!differs(i)) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < common && differs(end))
            ++end;
        const std::size_t oldEnd = end == common ? old.size() : end;
        const std::size_t newEnd = end == common ? now.size() : end;
        DecodedEdit e;
        e.firstLine = int(i);
        e.lineCount = int(oldEnd - i);
        e.at = start[i];
        e.length = start[oldEnd - 1] + old[oldEnd - 1].size() - start[i];
        e.text = Joined(now, i, newEnd);
        edits.push_back(std::move(e));
        i = end;
    }
    std::reverse(edits.begin(), edits.end());
    return edits;
}

void DisplayQueue::appendByte(std::uint8_t b) {
    rxText_.appendByte(b);
    rxHex_.appendByte(b);
    if (rxText_.flushDue() || rxHex_.flushDue())
        flushPanes();
}

void DisplayQueue::post(StatusSource source, std::string text, std::string details) {
    if (!statusBar_.post(source, std::move(text), std::move(details)))
        return;
    statusBarDirty_ = true;
    changed();
}

void DisplayQueue::setDecoded(std::vector<std::string> lines) {
    decoded_ = std::move(lines);
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
        view_.showStatus(kReceivePanel, "N=" + std::to_string(receiveLength_), {});
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
    flushDecoded();
}

// Compared with what the pane shows, not with what was sent to it last: the
// operator may have typed into it.
void DisplayQueue::flushDecoded() {
    if (!decodedDirty_)
        return;
    decodedDirty_ = false;
    for (const DecodedEdit& edit : DecodedEdits(view_.decodedText(), decoded_))
        view_.editDecodedText(edit);
}

void DisplayQueue::clear() {
    rxText_.clear();
    rxHex_.clear();
    decodedDirty_ = false;
}

}  // namespace kestrel
