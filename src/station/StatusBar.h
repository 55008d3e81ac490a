#pragma once
// The status bar's panels 1 to 3, owned in one place. Each part of the engine
// posts what it has to say as a source (the line, the archive, the settings
// file, the KISS de-framer, forwarding); the bar decides by one written rule
// which text stands in which panel, shortens a text that does not fit at a
// whole word, and hands both windows the finished panels to draw. Panel 0
// ("N=" and the receive buffer's length) is the frame finder's own and not
// laid out here.
//
// The rule. Sources in order of precedence, each with its home panel:
//   Line      1  why the port would not open, "Port lost", "TNC lost",
//                "TNC offline", "TNC online"
//   Archive   2  "Unsaved 4096 B, 3 bcn"
//   Settings  2  a value of the settings file that is not used as written
//   Kiss      3  "KISS 120/2": frames taken and dropped on a KISS line
//   Share     3  "Shared 120", "Queued 3", "Share offline", a [Share] fault
//   LastExit  3  "Exit failed": the last run's shut-down failed (station
//                log), until the operator clicks it or a minute has passed
// Taken in that order, each source with a text gets its home panel if it is
// still free, else the free panel nearest to its home (the left one of two as
// near). A source that finds no panel free is not lost: its text is added to
// the tooltip of its home panel. A text wider than its panel is cut after
// the last whole word that fits, with "..." after it; the panel's tooltip
// then holds the whole text (or the source's details, when it gave them).

#include "station/StationView.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

enum class StatusSource { Line, Archive, Settings, Kiss, Share, LastExit };
inline constexpr std::size_t kStatusSources = 6;

// One laid-out panel: what it shows and what its tooltip says ("" for none).
struct StatusPanelText {
    std::string text, tip;
    std::optional<StatusSource> source;  // whose text it is
    friend bool operator==(const StatusPanelText&, const StatusPanelText&) = default;
};

class StatusBar {
public:
    // Panels 1 to 3.
    static constexpr std::size_t kPanels = 3;
    using Layout = std::array<StatusPanelText, kPanels>;
    // Whether a text fits a panel as the window draws it.
    using Fits = std::function<bool(std::string_view text)>;

    // What a source has to say now ("" for nothing); details, when given, are
    // what the tooltip shows instead of the text. True when that changed.
    bool post(StatusSource source, std::string text, std::string details = {});
    const std::string& text(StatusSource source) const { return posts_[std::size_t(source)].text; }

    // The panels as the rule places them.
    Layout layout(const Fits& fits) const;

private:
    struct Post {
        std::string text, details;
    };
    std::array<Post, kStatusSources> posts_;
};

// text cut after the last whole word that fits, "..." after it; the first
// word cut by characters when not even it fits.
std::string ShortenToFit(const std::string& text, const StatusBar::Fits& fits);

}  // namespace kestrel
