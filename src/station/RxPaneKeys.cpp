// The keys of a receive pane (see RxPaneKeys.h).

#include "station/RxPaneKeys.h"

#include <string>

namespace kestrel {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

PaneEditResult RxPaneEditKey(RxPaneModel& model, PaneEditKey key, bool ctrl, bool shift) {
    using Move = RxPaneModel::Move;
    using K = PaneEditKey;
    if (ctrl && (key == K::C || key == K::Insert))
        return PaneEditResult::Copy;
    if ((ctrl && key == K::X) || (shift && key == K::Delete))
        return PaneEditResult::Cut;
    if ((ctrl && key == K::V) || (shift && key == K::Insert))
        return PaneEditResult::Paste;
    Move move;
    switch (key) {
    case K::A:
        if (!ctrl)
            return PaneEditResult::NotMine;
        model.selectAll();
        return PaneEditResult::Done;
    case K::Delete: model.erase(true); return PaneEditResult::Done;
    case K::Backspace: model.erase(false); return PaneEditResult::Done;
    case K::Enter: model.insert("\n"); return PaneEditResult::Done;
    case K::Left: move = ctrl ? Move::WordLeft : Move::CharLeft; break;
    case K::Right: move = ctrl ? Move::WordRight : Move::CharRight; break;
    case K::Up: move = Move::LineUp; break;
    case K::Down: move = Move::LineDown; break;
    case K::PageUp: move = Move::PageUp; break;
    case K::PageDown: move = Move::PageDown; break;
    case K::Home: move = ctrl ? Move::TextStart : Move::LineStart; break;
    case K::End: move = ctrl ? Move::TextEnd : Move::LineEnd; break;
    default: return PaneEditResult::NotMine;
    }
    model.move(move, shift);
    return PaneEditResult::Done;
}

PaneEditResult RxPaneType(RxPaneModel& model, std::u16string_view text) {
    if (text.empty())
        return PaneEditResult::NotMine;
    if (text == u"\r") {
        model.insert("\n");
        return PaneEditResult::Done;
    }
    if (text.front() < 0x20 || text.front() == 0x7F)
        return PaneEditResult::NotMine;
    std::string latin1;
    for (char16_t c : text) {
        if (c > 0xFF)
            return PaneEditResult::Beep;
        latin1 += char(c);
    }
    model.insert(latin1);
    return PaneEditResult::Done;
}

void RxPanePaste(RxPaneModel& model, std::u16string_view text) {
    std::string latin1;
    latin1.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            ++i;  // a character beyond the basic plane is two units, and one question mark
        latin1 += c > 0xFF ? '?' : char(c);
    }
    model.insert(latin1);
}

std::array<PaneMenuItem, 4> RxPaneMenu(const RxPaneModel& model, bool clipboardHasText) {
    const bool selected = model.hasSelection();
    return {{{PaneMenuCommand::Cut, "Cu&t", 'X', selected, false},
             {PaneMenuCommand::Copy, "&Copy", 'C', selected, false},
             {PaneMenuCommand::Paste, "&Paste", 'V', clipboardHasText, false},
             {PaneMenuCommand::SelectAll, "Select &All", 'A', true, true}}};
}

PaneEditResult RxPaneMenuChosen(RxPaneModel& model, PaneMenuCommand command) {
    switch (command) {
    case PaneMenuCommand::Cut: return PaneEditResult::Cut;
    case PaneMenuCommand::Copy: return PaneEditResult::Copy;
    case PaneMenuCommand::Paste: return PaneEditResult::Paste;
    case PaneMenuCommand::SelectAll: model.selectAll(); return PaneEditResult::Done;
    }
    return PaneEditResult::NotMine;
}

}  // namespace kestrel
