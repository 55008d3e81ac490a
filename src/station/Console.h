#pragma once
// The console: the TNC send pane and the test beacon generator. What a key
// pressed in the send pane sends, and whether the pane then handles it, is
// decided here once for both windows (SendPaneKey).

#include "station/StationView.h"
#include "telemetry/Clock.h"
#include "telemetry/Generator.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The keys of the send pane the rule tells apart; every other key that types
// a character is a Character.
enum class PaneKey { Character, Enter, Tab, Backspace, Delete, Escape };

// What a key press in the send pane does. The line gets every key that types
// a character at once, as a terminal would send it: Enter CR, Tab 0x09,
// Backspace 0x08, Esc 0x1B, Ctrl+letter its control character, any character
// of the 8-bit set itself. The pane then edits with the key as usual (Tab
// inserts a tab and keeps the focus, as in a terminal; Shift+Tab leaves the
// pane); Esc is only sent. Delete types no character: it only deletes forward
// in the pane. A character outside the 8-bit set cannot be sent as one byte: it is
// neither sent nor shown, and the window beeps, so the pane never shows what
// the line did not get.
struct SendPaneKeyEffect {
    std::optional<char> send;  // the byte for the line, if any
    bool paneHandles = false;  // the pane then handles the key itself
    bool beep = false;
};
SendPaneKeyEffect SendPaneKey(PaneKey key, char32_t character = 0);
// The key a typed character stands for (CR is Enter, 8 Backspace, ...).
PaneKey PaneKeyOfCharacter(char32_t character);

// A key event in the send pane as a toolkit gives it: `named` when it is one
// of the keys the rule names (Shift with Tab is Shift+Tab), else the text it
// types (UTF-32). Nothing for keys that type nothing there: cursor keys,
// Shift+Tab (which leaves the pane), Ctrl or Alt with Tab (the window's).
// Several characters from one key (a composed sequence) are not one byte.
struct SendPaneInput {
    PaneKey key;
    char32_t character;
};
std::optional<SendPaneInput> SendPaneInputOf(std::optional<PaneKey> named, bool shift, bool ctrlOrAlt,
                                             std::u32string_view text);
// Tab moves the focus on from every pane of the window but the send pane,
// where Tab is a key for the TNC and only Shift+Tab leaves. A pane given the
// focus from the keyboard puts its caret at the end, nothing selected (the
// next key would replace a selection).
inline bool TabMovesFocus(bool sendPane, bool shift) { return !sendPane || shift; }

class Console {
public:
    using Send = std::function<void(const std::string& bytes)>;

    Console(IStationView& view, IClock& clock, Send send) : view_(view), clock_(clock), send_(std::move(send)) {}

    // ---- TNC send pane ----
    // A key pressed in the send pane; true when the pane may handle it. Raises
    // when the line refuses the byte (the pane then leaves the key alone).
    bool keyPressed(PaneKey key, char32_t character);
    void MemoTXKeyPress(char key) { send_(std::string(1, key)); }
    // F9: the pane's text (lines separated by '\n') with CR LF between lines
    // and a CR at the end.
    void aTNCSendExecute(std::string_view paneText);

    // ---- Test generator ----
    void aInitExecute() { generator_.Init(clock_.tickCount()); }
    void aFillBufferExecute() { generator_.FillBuffer(); }
    void aTestExecute();  // Ctrl+T
    void aM4Execute() { setStream(!streamOn_); }
    void TimerXTimer();  // a failing write is ignored
    void setStream(bool on);
    bool streamOn() const { return streamOn_; }
    const TestGenerator& Generator() const { return generator_; }

private:
    IStationView& view_;
    IClock& clock_;
    Send send_;
    TestGenerator generator_;
    bool streamOn_ = false;
};

}  // namespace kestrel
