#include "win32/Win32RxPane.h"

#include "win32/Win32Util.h"

#include <string>

namespace kestrel {

TWin32RxPane::TWin32RxPane(HWND edit) : edit_(edit) {
    // The text stays short between trims; lift the 32 K default anyway, so a
    // long burst before the first trim is never refused.
    SendMessageW(edit_, EM_SETLIMITTEXT, 0, 0);
}

void TWin32RxPane::appendText(std::string_view text) {
    if (text.empty())
        return;
    std::wstring wide;
    wide.reserve(text.size() + text.size() / 16 + 1);
    for (char c : text) {
        if (c == '\n')
            wide += L'\r';
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
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
