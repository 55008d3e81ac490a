// The Win32 receive pane: batched insertions into an EDIT control, a bounded
// tail (see Win32RxPane.h).

#include "win32/Win32RxPane.h"

#include "station/RxPaneText.h"
#include "win32/Win32Util.h"

#include <string>

namespace kestrel {
namespace {

// Control characters have no glyph in the pane's font; the system would look
// through its fallback fonts for every one of them at every layout, which
// under Wine costs more than the whole receive path. They show as a middle
// dot; tabs and line breaks stay what they are.
wchar_t Shown(char c) {
    const auto w = static_cast<wchar_t>(static_cast<unsigned char>(c));
    return (w < 0x20 && w != L'\t' && w != L'\n') || (w >= 0x7F && w < 0xA0) ? L'\u00B7' : w;
}

}  // namespace

TWin32RxPane::TWin32RxPane(HWND edit, Lines lines) : edit_(edit), lines_(lines) {
    // The text stays short between trims; lift the 32 K default anyway, so a
    // long burst before the first trim is never refused.
    SendMessageW(edit_, EM_SETLIMITTEXT, 0, 0);
}

int TWin32RxPane::uniformLineLength() const {
    const int lines = static_cast<int>(SendMessageW(edit_, EM_GETLINECOUNT, 0, 0));
    if (lines < 3)
        return 0;
    auto start = [&](int line) { return static_cast<int>(SendMessageW(edit_, EM_LINEINDEX, static_cast<WPARAM>(line), 0)); };
    const int length = start(1) - start(0);
    // A hard line break (the heading's) makes the index step longer than the line.
    if (length <= 0 || SendMessageW(edit_, EM_LINELENGTH, 0, 0) != length || start(lines - 1) - start(lines - 2) != length)
        return 0;
    return length;
}

bool TWin32RxPane::replaceWithTail(std::string_view text) {
    const int length = lines_ == Lines::Uniform ? uniformLineLength() : 0;
    if (length == 0 || text.find('\n') != std::string_view::npos)
        return false;
    const int lines = static_cast<int>(SendMessageW(edit_, EM_GETLINECOUNT, 0, 0));
    const int lastStart = static_cast<int>(SendMessageW(edit_, EM_LINEINDEX, static_cast<WPARAM>(lines - 1), 0));
    const int end = GetWindowTextLengthW(edit_);
    const std::size_t drop = WholeLinesToDrop(static_cast<std::size_t>(end - lastStart) + text.size(),
                                              static_cast<std::size_t>(length), kKeepLines, kTrimLines);
    if (drop == 0)
        return false;  // small enough to go in as it is
    // The last line as it stands, then the new text; whole lines off its front.
    std::wstring all = win32::WindowText(edit_);
    std::wstring tail = all.substr(static_cast<std::size_t>(lastStart));
    for (char c : text)
        tail += Shown(c);
    SetWindowTextW(edit_, tail.c_str() + drop);
    const int newEnd = GetWindowTextLengthW(edit_);
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(newEnd), newEnd);
    SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
    return true;
}

void TWin32RxPane::appendText(std::string_view text) {
    if (text.empty() || replaceWithTail(text))
        return;
    std::wstring wide;
    wide.reserve(text.size() + text.size() / 16 + 1);
    for (char c : text) {
        if (c == '\n')
            wide += L'\r';
        wide += Shown(c);
    }
    const LRESULT end = GetWindowTextLengthW(edit_);
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
    if (displayedLineCount() > kKeepLines + kTrimLines)
        trimToLines(kKeepLines);
    SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
}

int TWin32RxPane::displayedLineCount() const {
    const int lines = static_cast<int>(SendMessageW(edit_, EM_GETLINECOUNT, 0, 0));
    if (lines <= 0)
        return 0;
    const LRESULT lastStart = SendMessageW(edit_, EM_LINEINDEX, static_cast<WPARAM>(lines - 1), 0);
    const bool lastEmpty = lastStart >= 0 && SendMessageW(edit_, EM_LINELENGTH, static_cast<WPARAM>(lastStart), 0) == 0;
    return lastEmpty ? lines - 1 : lines;
}

void TWin32RxPane::trimToLines(int maxLines) {
    const int excess = displayedLineCount() - maxLines;
    if (excess <= 0)
        return;
    // Cutting n first lines at once equals deleting the first line n times.
    const LRESULT cut = SendMessageW(edit_, EM_LINEINDEX, static_cast<WPARAM>(excess), 0);
    if (cut <= 0)
        return;
    const LRESULT end = GetWindowTextLengthW(edit_);
    SendMessageW(edit_, EM_SETSEL, 0, cut);
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end - cut), end - cut);
}

void TWin32RxPane::clear() { SetWindowTextW(edit_, L""); }

}  // namespace kestrel
