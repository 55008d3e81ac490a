// The status bar's rule: which source's text stands in which of panels 1 to
// 3, what finds no panel, and how a text too wide for its panel is cut.

#include "station/StatusBar.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// A panel that holds ten characters.
bool TenWide(std::string_view text) { return text.size() <= 10; }

std::array<std::string, 3> Texts(const StatusBar::Layout& layout) {
    return {layout[0].text, layout[1].text, layout[2].text};
}

TEST(StatusBar, EachSourceTakesItsHomeOrTheNearestFreePanel) {
    using S = StatusSource;
    struct Case {
        std::vector<std::pair<S, const char*>> posts;
        std::array<std::string, 3> panels;
    } cases[] = {
        {{}, {"", "", ""}},
        {{{S::Share, "Shared 0"}}, {"", "", "Shared 0"}},
        {{{S::Settings, "Baud?"}, {S::Share, "Shared 0"}}, {"", "Baud?", "Shared 0"}},
        {{{S::Kiss, "KISS 1/0"}, {S::Share, "Shared 0"}}, {"", "Shared 0", "KISS 1/0"}},
        {{{S::Kiss, "KISS 1/0"}, {S::Share, "Shared 0"}, {S::Archive, "Unsaved"}}, {"Shared 0", "Unsaved", "KISS 1/0"}},
        {{{S::Archive, "Unsaved"}, {S::Settings, "Baud?"}}, {"Baud?", "Unsaved", ""}},
        {{{S::Line, "Port lost"}, {S::Share, "Shared 0"}}, {"Port lost", "", "Shared 0"}},
    };
    for (const Case& c : cases) {
        StatusBar bar;
        for (const auto& [source, text] : c.posts)
            bar.post(source, text);
        EXPECT_EQ(Texts(bar.layout(TenWide)), c.panels) << c.panels[0] << "|" << c.panels[1] << "|" << c.panels[2];
    }
}

TEST(StatusBar, ASourceWithoutAPanelIsInItsHomePanelsTooltip) {
    StatusBar bar;
    bar.post(StatusSource::Line, "TNC online");
    bar.post(StatusSource::Archive, "Unsaved");
    bar.post(StatusSource::Kiss, "KISS 3/0");
    bar.post(StatusSource::Share, "Queued 3", "Queued 3 beacons");
    const StatusBar::Layout panels = bar.layout(TenWide);
    EXPECT_EQ(Texts(panels), (std::array<std::string, 3>{"TNC online", "Unsaved", "KISS 3/0"}));
    EXPECT_EQ(panels[2].tip, "Queued 3 beacons");
    EXPECT_TRUE(bar.post(StatusSource::Archive, ""));
    EXPECT_FALSE(bar.post(StatusSource::Archive, "")) << "no change";
    EXPECT_EQ(bar.layout(TenWide)[1].text, "Queued 3");
}

TEST(StatusBar, ATooWideTextIsCutAfterAWholeWordAndWholeInTheTooltip) {
    StatusBar bar;
    bar.post(StatusSource::Share, "Share: NoradId?");
    bar.post(StatusSource::Line, "COM4 in use");
    bar.post(StatusSource::Settings, "Settings:BaudRate=250000", "BaudRate=250000 is not a rate");
    const StatusBar::Layout panels = bar.layout(TenWide);
    EXPECT_EQ(panels[2].text, "Share:...");
    EXPECT_EQ(panels[2].tip, "Share: NoradId?");
    EXPECT_EQ(panels[0].text, "COM4 in...");
    EXPECT_EQ(panels[1].text, "Setting...") << "one word wider than the panel: cut within it";
    EXPECT_EQ(panels[1].tip, "BaudRate=250000 is not a rate") << "the source's details";
    bar.post(StatusSource::Line, "Port lost");
    EXPECT_EQ(bar.layout(TenWide)[0].tip, "") << "a text that fits has no tooltip";
}

}  // namespace
}  // namespace kestrel
