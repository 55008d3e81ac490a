// The window's docking layout, as both windows place their controls.

#include "station/WindowDesign.h"

#include <gtest/gtest.h>

namespace kestrel::design {
namespace {

TEST(WindowDesign, DockedControlsFollowTheWindowAndTheOthersKeepTheirPlace) {
    for (const auto& [w, h] : {std::pair{kClientWidth, kClientHeight}, std::pair{1200, 800}}) {
        const Layout layout = LayoutWindow(w, h);
        EXPECT_EQ(layout[GroupBox2], (Rect{0, 0, w, 97}));
        EXPECT_EQ(layout[StatusBar1], (Rect{0, h - 19, w, 19}));
        EXPECT_EQ(layout[GroupBox1], (Rect{0, 97, 961, h - 97 - 19})) << "between the top band and the status bar";
        EXPECT_EQ(layout[Memo2], (Rect{113, 15, 368, 80})) << "right of Panel1, inside the group's frame";
        EXPECT_EQ(InWindow(layout, bSettings), (Rect{18, 15, 75, 25}));
        EXPECT_EQ(InWindow(layout, MemoTX), (Rect{488, 18, 385, 71}));
        const int inner = h - 97 - 19 - 15 - 2;
        EXPECT_EQ(InWindow(layout, MEMORXHEX), (Rect{345, 112, 265, inner}));
        EXPECT_EQ(layout[Memo1], (Rect{610, 15, 349, inner})) << "the rest of the group";
    }
    const Layout tiny = LayoutWindow(10, 10);
    for (const Rect& r : tiny)
        EXPECT_TRUE(r.width >= 0 && r.height >= 0);
}

TEST(WindowDesign, AcceleratorIsTheLetterAfterTheAmpersand) {
    EXPECT_EQ(AcceleratorOf("&Clear"), 'C');
    EXPECT_EQ(AcceleratorOf("Set&up"), 'U');
    EXPECT_EQ(AcceleratorOf("Clear"), 0);
    EXPECT_EQ(AcceleratorOf("Clear&"), 0);
}

}  // namespace
}  // namespace kestrel::design
