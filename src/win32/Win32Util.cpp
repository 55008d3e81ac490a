// Small Win32 helpers of the window and the dialog (see Win32Util.h).

#include "win32/Win32Util.h"

namespace kestrel::win32 {

int ScreenDpi() {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int d = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen)
            ReleaseDC(nullptr, screen);
        return d > 0 ? d : 96;
    }();
    return dpi;
}

std::wstring Widen(std::string_view latin1) {
    std::wstring text(latin1.size(), L'\0');
    for (std::size_t i = 0; i < latin1.size(); ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(latin1[i]));
    return text;
}

std::wstring WidenLines(std::string_view latin1) {
    std::wstring text;
    text.reserve(latin1.size() + latin1.size() / 16);
    for (char c : latin1) {
        if (c == '\n')
            text += L'\r';
        text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return text;
}

std::string Narrow(std::wstring_view text) {
    std::string bytes(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        bytes[i] = text[i] < 256 ? static_cast<char>(text[i]) : '?';
    return bytes;
}

HFONT MakeFont(const wchar_t* face, int pixelHeight, bool bold, bool fixedPitch) {
    return CreateFontW(-Scaled(pixelHeight), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       (fixedPitch ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS), face);
}

HFONT MakeFont(const design::FontRequest& font) {
    return MakeFont(Widen(font.face).c_str(), font.pixelHeight, font.bold, font.fixedPitch);
}

INT_PTR ShowDialogWithoutTemplate(HWND owner, DLGPROC procedure, LPARAM parameter) {
    struct alignas(4) DialogTemplate {
        DLGTEMPLATE header;
        WORD menu = 0;
        WORD windowClass = 0;
        wchar_t title[1] = L"";  // the caption is set in WM_INITDIALOG
    } t{};
    t.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.header.cx = 200;  // resized in WM_INITDIALOG
    t.header.cy = 200;
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &t.header, owner, procedure, parameter);
}

INT_PTR NoticeColours(WPARAM dc) {
    const HDC hdc = reinterpret_cast<HDC>(dc);
    SetTextColor(hdc, RGB(139, 0, 0));
    SetBkColor(hdc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

std::wstring WindowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

int RunMessageLoop(const std::function<bool(MSG&)>& preTranslate) {
    MSG msg{};
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        if (preTranslate && preTranslate(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace kestrel::win32
