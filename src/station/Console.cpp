// The console: the send pane's key rule, F9, and the test generator's beacon
// and random-byte stream (see Console.h).

#include "station/Console.h"

namespace kestrel {

PaneKey PaneKeyOfCharacter(char32_t character) {
    switch (character) {
    case U'\r': return PaneKey::Enter;
    case U'\t': return PaneKey::Tab;
    case U'\b': return PaneKey::Backspace;
    case 0x7F: return PaneKey::Delete;
    case 0x1B: return PaneKey::Escape;
    default: return PaneKey::Character;
    }
}

std::optional<SendPaneInput> SendPaneInputOf(std::optional<PaneKey> named, bool shift, bool ctrlOrAlt,
                                             std::u32string_view text) {
    switch (named.value_or(PaneKey::Character)) {
    case PaneKey::Tab:
        if (shift || ctrlOrAlt)
            return std::nullopt;
        return SendPaneInput{PaneKey::Tab, U'\t'};
    case PaneKey::Enter: return SendPaneInput{PaneKey::Enter, U'\r'};
    case PaneKey::Backspace: return SendPaneInput{PaneKey::Backspace, U'\b'};
    case PaneKey::Delete: return SendPaneInput{PaneKey::Delete, 0x7F};
    case PaneKey::Escape: return SendPaneInput{PaneKey::Escape, 0x1B};
    case PaneKey::Character: break;
    }
    if (text.empty())
        return std::nullopt;
    return SendPaneInput{PaneKey::Character, text.size() == 1 ? text[0] : char32_t(0xFFFFFFFF)};
}

SendPaneKeyEffect SendPaneKey(PaneKey key, char32_t character) {
    switch (key) {
    case PaneKey::Enter: return {'\r', true, false};
    case PaneKey::Tab: return {'\t', true, false};
    case PaneKey::Backspace: return {'\b', true, false};
    case PaneKey::Delete: return {std::nullopt, true, false};
    case PaneKey::Escape: return {'\x1B', false, false};
    case PaneKey::Character: break;
    }
    if (character > 0xFF)
        return {std::nullopt, false, true};
    return {static_cast<char>(character), true, false};
}

bool Console::keyPressed(PaneKey key, char32_t character) {
    const SendPaneKeyEffect effect = SendPaneKey(key, character);
    if (effect.beep)
        view_.beep();
    if (effect.send)
        MemoTXKeyPress(*effect.send);
    return effect.paneHandles;
}

void Console::aTNCSendExecute(std::string_view paneText) {
    // The pane's lines go out separated by CR LF, as the TNC expects them.
    std::string text;
    text.reserve(paneText.size() + paneText.size() / 8 + 1);
    for (char c : paneText) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    text += '\r';
    send_(text);
}

void Console::aTestExecute() {
    aInitExecute();
    aFillBufferExecute();
    send_(generator_.TestFrame);
}

void Console::setStream(bool on) {
    streamOn_ = on;
    view_.setStreamTimer(on);
}

void Console::TimerXTimer() {
    // The stream is a background test signal: a closed or failing line must
    // not open a message box every 10 ms.
    try {
        aInitExecute();
        send_(std::string(1, static_cast<char>(generator_.RandomByte())));
    } catch (...) {
    }
}

}  // namespace kestrel
