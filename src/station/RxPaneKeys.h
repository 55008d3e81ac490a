#pragma once
// The keys of a receive pane, decided once for both windows: which key moves
// or selects what, which edits, which are the clipboard's, and the Latin-1
// rule for what is typed or pasted (the pane holds Latin-1, as the line brings
// it). Each window only names its keys (PaneEditKey) and does what the answer
// asks of it: the clipboard and the beep are the toolkit's.

#include "station/RxPaneModel.h"

#include <array>
#include <string_view>

namespace kestrel {

// A key as the rule names it; each window maps its own keys to these.
enum class PaneEditKey {
    Left,
    Right,
    Up,
    Down,
    PageUp,
    PageDown,
    Home,
    End,
    Delete,
    Backspace,
    Enter,
    Insert,
    A,
    C,
    V,
    X
};

// What the window does after a key or typed text.
enum class PaneEditResult {
    NotMine,  // the window's (its shortcuts, dialog navigation)
    Done,     // the model changed: show it
    Copy,     // the selected text to the clipboard
    Cut,      // RxPaneModel::cut() to the clipboard
    Paste,    // the clipboard's text to RxPanePaste
    Beep      // refused: nothing changed
};

// Ctrl+C or Ctrl+Insert copies, Ctrl+X or Shift+Delete cuts, Ctrl+V or
// Shift+Insert pastes, Ctrl+A selects all, Delete and Backspace erase, Enter
// breaks the line; the arrows, Page Up and Down, Home and End move the caret
// (Ctrl+Left/Right by word, Ctrl+Home/End to the text's ends), with Shift
// the selection grows with it.
PaneEditResult RxPaneEditKey(RxPaneModel& model, PaneEditKey key, bool ctrl, bool shift);
// Characters typed (UTF-16, as both toolkits give them): CR is a line break;
// other control characters are no text here (Ctrl+letters, Esc); a character
// beyond Latin-1 is refused whole.
PaneEditResult RxPaneType(RxPaneModel& model, std::u16string_view text);
// The clipboard's text at the caret: what the pane cannot show becomes a
// question mark, one for each character.
void RxPanePaste(RxPaneModel& model, std::u16string_view text);

// The context menu, in this order. Each window draws the entries and hands
// the chosen one to RxPaneMenuChosen.
enum class PaneMenuCommand { Cut, Copy, Paste, SelectAll };
struct PaneMenuItem {
    PaneMenuCommand command;
    const char* label;  // '&' before the access key
    char ctrlLetter;    // its shortcut: Ctrl and this letter
    bool enabled;
    bool separatorBefore;
};
// Cut and Copy need a selection, Paste text on the clipboard.
std::array<PaneMenuItem, 4> RxPaneMenu(const RxPaneModel& model, bool clipboardHasText);
// What the window does for the chosen entry, as for a key.
PaneEditResult RxPaneMenuChosen(RxPaneModel& model, PaneMenuCommand command);

}  // namespace kestrel
