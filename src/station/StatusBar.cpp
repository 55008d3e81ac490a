// The status bar's panels 1 to 3: the sources' posts placed by the rule and
// shortened to fit (see StatusBar.h).

#include "station/StatusBar.h"

#include <cstdlib>

namespace kestrel {
namespace {

// Each source's home panel (0 is panel 1), in the order of precedence.
constexpr std::array<std::size_t, kStatusSources> kHome{0, 1, 1, 2, 2, 2};

constexpr std::string_view kCut = "...";

void AddLine(std::string& tip, const std::string& line) {
    if (!tip.empty())
        tip += '\n';
    tip += line;
}

}  // namespace

bool StatusBar::post(StatusSource source, std::string text, std::string details) {
    Post& p = posts_[std::size_t(source)];
    if (p.text == text && p.details == details)
        return false;
    p.text = std::move(text);
    p.details = std::move(details);
    return true;
}

StatusBar::Layout StatusBar::layout(const Fits& fits) const {
    Layout panels;
    std::array<bool, kPanels> taken{};
    std::array<std::string, kPanels> overflow;  // texts that found no panel
    for (std::size_t s = 0; s < kStatusSources; ++s) {
        const Post& p = posts_[s];
        if (p.text.empty())
            continue;
        const std::size_t home = kHome[s];
        std::size_t best = kPanels;
        for (std::size_t i = 0; i < kPanels; ++i) {
            if (taken[i])
                continue;
            const auto distance = [home](std::size_t panel) { return panel > home ? panel - home : home - panel; };
            if (best == kPanels || distance(i) < distance(best))
                best = i;
        }
        if (best == kPanels) {
            AddLine(overflow[home], p.details.empty() ? p.text : p.details);
            continue;
        }
        taken[best] = true;
        StatusPanelText& panel = panels[best];
        panel.source = StatusSource(s);
        panel.text = fits(p.text) ? p.text : ShortenToFit(p.text, fits);
        if (!p.details.empty())
            panel.tip = p.details;
        else if (panel.text != p.text)
            panel.tip = p.text;
    }
    for (std::size_t i = 0; i < kPanels; ++i)
        if (!overflow[i].empty())
            AddLine(panels[i].tip, overflow[i]);
    return panels;
}

std::string ShortenToFit(const std::string& text, const StatusBar::Fits& fits) {
    // Cut points: after each word that ends before a blank.
    std::string best;
    for (std::size_t end = text.find(' '); end != std::string::npos; end = text.find(' ', end + 1)) {
        if (end == 0 || text[end - 1] == ' ')
            continue;
        std::string candidate = text.substr(0, end) + std::string(kCut);
        if (!fits(candidate))
            break;
        best = std::move(candidate);
    }
    if (!best.empty())
        return best;
    // Not even the first word fits: as many of its characters as do.
    std::string cut;
    for (std::size_t n = 1; n < text.size(); ++n) {
        std::string candidate = text.substr(0, n) + std::string(kCut);
        if (!fits(candidate))
            break;
        cut = std::move(candidate);
    }
    return cut.empty() ? std::string(kCut) : cut;
}

}  // namespace kestrel
