// The panes' key rules both windows follow: a receive pane's keys and its
// Latin-1 rule for typing and pasting; the send pane's keys and Tab.

#include "station/Console.h"
#include "station/RxPaneKeys.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using K = PaneEditKey;
using R = PaneEditResult;

TEST(RxPaneKeys, ClipboardKeysAreTheWindowsAndTheRestEditOrMove) {
    RxPaneModel m;
    m.setColumns(20);
    m.setRows(3);
    m.append("one two\nthree");
    EXPECT_EQ(RxPaneEditKey(m, K::Insert, true, false), R::Copy);
    EXPECT_EQ(RxPaneEditKey(m, K::C, true, false), R::Copy);
    EXPECT_EQ(RxPaneEditKey(m, K::Delete, false, true), R::Cut);
    EXPECT_EQ(RxPaneEditKey(m, K::Insert, false, true), R::Paste);
    EXPECT_EQ(RxPaneEditKey(m, K::C, false, false), R::NotMine) << "a letter without Ctrl is typed";
    EXPECT_EQ(RxPaneEditKey(m, K::Home, true, false), R::Done);
    EXPECT_EQ(m.caret(), 0u);
    EXPECT_EQ(RxPaneEditKey(m, K::Right, true, true), R::Done);
    EXPECT_EQ(m.selectedText(), "one ");
    EXPECT_EQ(RxPaneEditKey(m, K::Enter, false, false), R::Done);
    EXPECT_EQ(m.text(), "\ntwo\nthree");
    EXPECT_EQ(RxPaneEditKey(m, K::A, true, false), R::Done);
    EXPECT_EQ(m.selectedText(), m.text());
}

TEST(RxPaneKeys, TheLatin1RuleForTypingAndPasting) {
    RxPaneModel m;
    m.setColumns(20);
    m.setRows(3);
    EXPECT_EQ(RxPaneType(m, u"\u00e9"), R::Done);
    EXPECT_EQ(RxPaneType(m, u"a\u20ac"), R::Beep) << "refused whole";
    EXPECT_EQ(RxPaneType(m, u"\x01"), R::NotMine) << "Ctrl+A is no text";
    EXPECT_EQ(RxPaneType(m, u"\r"), R::Done);
    EXPECT_EQ(m.text(), "\xe9\n");
    RxPanePaste(m, u"a\u20ac\U0001F600b");
    EXPECT_EQ(m.text(), "\xe9\na??b") << "one question mark per character";
}

// Each entry's shortcut must do what choosing it does, or the menu tells the
// operator a key that does something else.
TEST(RxPaneKeys, TheMenuFollowsTheSelectionAndTheClipboardAndItsShortcutsDoTheSame) {
    RxPaneModel m;
    m.setColumns(20);
    m.setRows(3);
    m.append("one");
    auto menu = RxPaneMenu(m, false);
    EXPECT_FALSE(menu[0].enabled || menu[1].enabled || menu[2].enabled) << "nothing selected, clipboard empty";
    EXPECT_TRUE(menu[3].enabled && menu[3].separatorBefore);
    EXPECT_EQ(RxPaneMenuChosen(m, menu[3].command), R::Done);
    EXPECT_EQ(m.selectedText(), "one");
    menu = RxPaneMenu(m, true);
    for (const PaneMenuItem& item : menu) {
        EXPECT_TRUE(item.enabled) << item.label;
        RxPaneModel byKey = m;
        const auto letter = static_cast<PaneEditKey>(int(K::A) + std::string_view("ACVX").find(item.ctrlLetter));
        EXPECT_EQ(RxPaneEditKey(byKey, letter, true, false), RxPaneMenuChosen(m, item.command)) << item.label;
    }
}

TEST(SendPaneKeys, TabIsTheTncsShiftTabLeavesAndAComposedKeyIsNoByte) {
    const auto tab = SendPaneInputOf(PaneKey::Tab, false, false, U"\t");
    ASSERT_TRUE(tab);
    EXPECT_EQ(tab->character, U'\t');
    EXPECT_FALSE(SendPaneInputOf(PaneKey::Tab, true, false, U""));
    EXPECT_FALSE(SendPaneInputOf(PaneKey::Tab, false, true, U"\t"));
    EXPECT_FALSE(SendPaneInputOf(std::nullopt, false, false, U"")) << "a cursor key";
    EXPECT_EQ(SendPaneInputOf(PaneKey::Delete, false, false, U"")->character, char32_t(0x7F));
    EXPECT_EQ(SendPaneInputOf(std::nullopt, false, true, U"\x01")->character, char32_t(1)) << "Ctrl+A";
    EXPECT_EQ(SendPaneInputOf(std::nullopt, false, false, U"ab")->character, char32_t(0xFFFFFFFF));
    EXPECT_FALSE(TabMovesFocus(true, false));
    EXPECT_TRUE(TabMovesFocus(true, true));
    EXPECT_TRUE(TabMovesFocus(false, false));
}

}  // namespace
}  // namespace kestrel
