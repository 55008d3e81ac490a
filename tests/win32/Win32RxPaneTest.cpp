// The Win32 receive pane against the system's multi-line edit control, which
// the panes were before: the same text in the same font and width wraps into
// the same lines; and what the mouse selects is copied. Needs a display.

#include "win32/Win32RxPane.h"
#include "station/RxPaneText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

HFONT PaneFont() {
    static HFONT font = CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas");
    return font;
}

struct Windows {
    Windows() {
        TWin32RxPane::Register(GetModuleHandleW(nullptr));
        parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 900, 700, nullptr, nullptr, nullptr, nullptr);
    }
    ~Windows() { DestroyWindow(parent); }
    HWND child(const wchar_t* cls, DWORD style, int width) {
        HWND w = CreateWindowExW(0, cls, L"", WS_CHILD | style, 0, 0, width, 400, parent, nullptr, nullptr, nullptr);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(PaneFont()), FALSE);
        return w;
    }
    HWND parent;
};

std::vector<std::string> EditLines(Windows& windows, const std::string& text, int width) {
    HWND edit = windows.child(L"EDIT", ES_MULTILINE, width);
    std::wstring wide;
    for (char c : text)
        wide += c == '\n' ? std::wstring(L"\r\n") : std::wstring(1, wchar_t(static_cast<unsigned char>(c)));
    SetWindowTextW(edit, wide.c_str());
    std::vector<std::string> lines;
    const int n = int(SendMessageW(edit, EM_GETLINECOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        const int start = int(SendMessageW(edit, EM_LINEINDEX, WPARAM(i), 0));
        const int length = int(SendMessageW(edit, EM_LINELENGTH, WPARAM(start), 0));
        std::string line;
        for (int k = 0; k < length; ++k)
            line += char(wide[std::size_t(start + k)]);
        lines.push_back(line);
    }
    DestroyWindow(edit);
    return lines;
}

std::vector<std::string> PaneLines(const TWin32RxPane& pane) {
    std::vector<std::string> lines;
    for (int i = 0; i < pane.model().lineCount(); ++i)
        lines.emplace_back(pane.model().line(i));
    return lines;
}

TEST(Win32RxPane, WrapsAsTheSystemsEditControlDid) {
    Windows windows;
    RxPaneText hex(RxPaneText::Mode::Hex);
    for (int i = 0; i < 200; ++i)
        hex.appendByte(std::uint8_t(i * 37));
    const std::string texts[] = {
        hex.take(),
        "ab cd ef gh ij kl mn op qr st uv wx yz abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz abc\n"
        "abcdefghij abcdefghij abcdefghij abcdefghij abcdefghij abcdefghij\n\nNORTHERN SKY BEACON x"};
    // Wine's edit control wraps the first lines of a long hex paragraph a
    // cell short at some widths and the later ones as here; these widths it
    // wraps alike throughout.
    const std::pair<const std::string&, std::vector<int>> cases[] = {{texts[0], {240, 244}},
                                                                     {texts[1], {240, 244, 248, 320, 323, 328}}};
    for (const auto& [text, widths] : cases)
        for (int width : widths) {
            TWin32RxPane pane;
            pane.Attach(windows.child(TWin32RxPane::kClassName, 0, width), PaneFont());
            pane.appendText(text);
            EXPECT_EQ(PaneLines(pane), EditLines(windows, text, width)) << "width " << width;
            DestroyWindow(pane.Handle());
        }
}

TEST(Win32RxPane, DraggedSelectionIsCopied) {
    Windows windows;
    TWin32RxPane pane;
    pane.Attach(windows.child(TWin32RxPane::kClassName, 0, 320), PaneFont());
    pane.appendText("line 0\nline 1\n");
    TEXTMETRICW tm{};
    HDC dc = GetDC(pane.Handle());
    SelectObject(dc, PaneFont());
    GetTextMetricsW(dc, &tm);
    ReleaseDC(pane.Handle(), dc);
    RECT text{};
    HWND probe = windows.child(L"EDIT", ES_MULTILINE, 320);
    SendMessageW(probe, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
    DestroyWindow(probe);
    const auto at = [&](int column, int row) {
        return MAKELPARAM(text.left + column * tm.tmAveCharWidth, row * tm.tmHeight + tm.tmHeight / 2);
    };
    SendMessageW(pane.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at(0, 0));
    SendMessageW(pane.Handle(), WM_MOUSEMOVE, MK_LBUTTON, at(2, 1));
    SendMessageW(pane.Handle(), WM_LBUTTONUP, 0, at(2, 1));
    pane.copy();
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GlobalLock(data))), L"line 0\r\nli");
    GlobalUnlock(data);
    CloseClipboard();
}

}  // namespace
}  // namespace kestrel
