// The Win32 receive pane, in the Windows window stage (it needs a display):
// what it draws for each text of the wrap table equals what it draws for the
// table's lines in a pane too wide to wrap them; what the mouse selects is
// copied, the scroll bar reaches everything, the wheel scrolls back, and a
// screen reader reads it as an edit control.

#include "win32/Win32RxPane.h"
#include "support/WrapTable.h"

#include <oleacc.h>

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
    HWND child(DWORD style, int width) {
        HWND w = CreateWindowExW(0, TWin32RxPane::kClassName, L"", WS_CHILD | style, 0, 0, width, kHeight, parent,
                                 nullptr, nullptr, nullptr);
        return w;
    }
    static constexpr int kHeight = 300;
    HWND parent;
};

// The pane's client area as WM_PRINTCLIENT draws it, `width` pixels wide.
std::vector<DWORD> Picture(HWND pane, int width) {
    const int height = Windows::kHeight;
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(pane, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    std::vector<DWORD> picture(pixels, pixels + std::size_t(width) * height);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return picture;
}

TEST(Win32RxPane, DrawsTheWrapTablesLines) {
    Windows windows;
    for (const test::WrapCase& c : test::WrapTable()) {
        TWin32RxPane wrapped, unwrapped, empty;
        int width = 20;
        wrapped.Attach(windows.child(0, width), PaneFont());
        while (wrapped.model().columns() < c.columns)
            MoveWindow(wrapped.Handle(), 0, 0, ++width, Windows::kHeight, FALSE);
        ASSERT_EQ(wrapped.model().columns(), c.columns) << c.what;
        wrapped.appendText(c.text);
        std::string lines;
        for (const std::string& line : c.lines)
            lines += (lines.empty() ? "" : "\n") + line;
        unwrapped.Attach(windows.child(0, 800), PaneFont());
        unwrapped.appendText(lines);
        empty.Attach(windows.child(0, width), PaneFont());
        const std::vector<DWORD> drawn = Picture(wrapped.Handle(), width);
        EXPECT_TRUE(drawn == Picture(unwrapped.Handle(), width)) << c.what;
        if (c.text.find_first_not_of(" \t") != std::string::npos) {
            EXPECT_FALSE(drawn == Picture(empty.Handle(), width)) << c.what << ": nothing drawn";
        }
        for (const TWin32RxPane* pane : {&wrapped, &unwrapped, &empty})
            DestroyWindow(pane->Handle());
    }
}

TEST(Win32RxPane, DraggedSelectionIsCopiedAndTheScrollBarReachesEverything) {
    Windows windows;
    TWin32RxPane pane;
    pane.Attach(windows.child(WS_VSCROLL, 320), PaneFont());
    std::string lines;
    for (int i = 0; i < 100; ++i)
        lines += "line " + std::to_string(i) + "\n";
    pane.appendText(lines);
    // Between two ticks the bar is only brought up to date when the pointer
    // reaches for it.
    SendMessageW(pane.Handle(), WM_NCMOUSEMOVE, HTVSCROLL, 0);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE;
    GetScrollInfo(pane.Handle(), SB_VERT, &si);
    EXPECT_EQ(si.nMax, pane.model().lineCount() - 1);

    SendMessageW(pane.Handle(), WM_VSCROLL, SB_TOP, 0);
    TEXTMETRICW tm{};
    HDC dc = GetDC(pane.Handle());
    SelectObject(dc, PaneFont());
    GetTextMetricsW(dc, &tm);
    ReleaseDC(pane.Handle(), dc);
    RECT text{};
    HWND probe = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE, 0, 0, 320, 300, windows.parent, nullptr,
                                 nullptr, nullptr);
    SendMessageW(probe, WM_SETFONT, reinterpret_cast<WPARAM>(PaneFont()), FALSE);
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

// The wheel turned up holds the view even while all of the text is in it.
TEST(Win32RxPane, TheWheelScrollsBackEvenWithAllOfTheTextInView) {
    Windows windows;
    TWin32RxPane pane;
    pane.Attach(windows.child(WS_VSCROLL, 320), PaneFont());
    pane.appendText("a\nb\n");
    SendMessageW(pane.Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_FALSE(pane.model().following());
}

// What a screen reader reads: the pane's text as an edit control's (CR LF
// line breaks), its selection, its displayed lines, and the system's object
// for the window, which names it with that text.
TEST(Win32RxPane, AnswersAssistiveTechnologyAsAnEditControl) {
    Windows windows;
    TWin32RxPane pane;
    pane.Attach(windows.child(WS_VSCROLL, 320), PaneFont());
    pane.appendText("TNC RX\nabc def\n");
    wchar_t text[64] = {};
    EXPECT_EQ(SendMessageW(pane.Handle(), WM_GETTEXTLENGTH, 0, 0), 17);
    EXPECT_EQ(SendMessageW(pane.Handle(), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text)), 17);
    EXPECT_STREQ(text, L"TNC RX\r\nabc def\r\n");
    SendMessageW(pane.Handle(), EM_SETSEL, 8, 11);  // "abc", after a CR LF
    EXPECT_EQ(pane.model().selectedText(), "abc");
    DWORD from = 0, to = 0;
    SendMessageW(pane.Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 8u);
    EXPECT_EQ(to, 11u);
    EXPECT_EQ(SendMessageW(pane.Handle(), EM_LINEFROMCHAR, 9, 0), 1);
    EXPECT_EQ(SendMessageW(pane.Handle(), EM_LINEINDEX, 1, 0), 8);

    // The system's object for it: its text as a screen reader gets it.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IAccessible* acc = nullptr;
    ASSERT_HRESULT_SUCCEEDED(AccessibleObjectFromWindow(pane.Handle(), DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                                        reinterpret_cast<void**>(&acc)));
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    EXPECT_HRESULT_SUCCEEDED(acc->get_accName(self, &name));
    EXPECT_STREQ(name ? name : L"", L"TNC RX\r\nabc def\r\n");
    SysFreeString(name);
    acc->Release();
}

}  // namespace
}  // namespace kestrel
