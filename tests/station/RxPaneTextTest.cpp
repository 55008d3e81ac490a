// How received bytes read in the two receive panes.

#include "station/RxPaneText.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

std::string Shown(RxPaneText::Mode mode, const std::string& bytes) {
    RxPaneText pane(mode);
    for (char c : bytes)
        pane.appendByte(static_cast<std::uint8_t>(c));
    return pane.take();
}

TEST(RxPaneText, TextShowsOneLineBreakForCrLfAndCrAndLfAndHidesZeroBytes) {
    EXPECT_EQ(Shown(RxPaneText::Mode::Text, std::string("A\rB\r\nC\nD\n\rE\0F", 13)), "A\nB\nC\nD\n\nEF");
    EXPECT_EQ(Shown(RxPaneText::Mode::Text, std::string("\r\0\n", 3)), "\n\n") << "a zero byte ends a CR LF";
}

TEST(RxPaneText, HexShowsTwoDigitsAndABlankPerByte) {
    EXPECT_EQ(Shown(RxPaneText::Mode::Hex, std::string("\x0A\xFF\0B", 4)), "0A FF 00 42 ");
}

TEST(RxPaneText, ClearForgetsTheWaitingTextAndAHalfCrLf) {
    RxPaneText pane(RxPaneText::Mode::Text);
    pane.appendByte('x');
    pane.appendByte('\r');
    pane.clear();
    pane.appendByte('\n');
    EXPECT_EQ(pane.take(), "\n");
    EXPECT_TRUE(pane.empty());
}

}  // namespace
}  // namespace kestrel
