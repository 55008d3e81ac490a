#pragma once
// The one way the engine's parts ask the event loop to come back to them: to
// go on with received bytes left waiting, or to show a report that could not
// be shown where it arose (a box opened inside the receive loop would receive
// in its nested loop in the middle of a byte; one opened by a timer tick would
// stop that timer while it is up).

#include "station/Notices.h"
#include "station/Report.h"
#include "station/StationView.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

class Continuation {
public:
    Continuation(IStationView& view, Notices& notices) : view_(view), notices_(notices) {}

    // Asks for Station::continueReceive(); asks made before it runs are one.
    // Nothing is asked for once shut-down has begun.
    void ask() {
        if (pending_ || closing_)
            return;
        pending_ = true;
        view_.continueSoon();
    }
    // The continuation runs now.
    void arrived() { pending_ = false; }

    // A report: written down at once (Notices), shown once the loop is back.
    void report(std::string text) {
        notices_.say(FormatReportText(text));
        reports_.push_back(std::move(text));
        ask();
    }
    // Something to know, not to act on: written down (Notices), no box.
    void note(const std::string& text) { notices_.say(text); }
    std::vector<std::string> takeReports() { return std::exchange(reports_, {}); }
    // The oldest one, taken off alone: the Windows program may end inside
    // its box's loop, and those behind it must still be here for shut-down.
    std::optional<std::string> takeReport() {
        if (reports_.empty())
            return std::nullopt;
        std::string text = std::move(reports_.front());
        reports_.erase(reports_.begin());
        return text;
    }
    bool reportsWaiting() const { return !reports_.empty(); }

    // From shut-down on no box opens and no received byte is handled.
    void close() { closing_ = true; }
    bool closing() const { return closing_; }

private:
    IStationView& view_;
    Notices& notices_;
    bool pending_ = false;
    bool closing_ = false;
    std::vector<std::string> reports_;
};

}  // namespace kestrel
