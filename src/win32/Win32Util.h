#pragma once
// Small pieces the Win32 windows and dialog share: the DPI scale of the
// designed 96-dpi sizes, Latin-1 and UTF-8 text to and from the controls'
// UTF-16, fonts, the window procedure that hands each window's messages to
// its object, and the message loop.

#include "station/Report.h"
#include "station/WindowDesign.h"

#include "Utf16Win32.h"

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace kestrel::win32 {

// The DPI the program was started with (system DPI awareness).
int ScreenDpi();
// A designed 96-dpi length in pixels of the screen.
inline int Scaled(int designed) { return MulDiv(designed, ScreenDpi(), 96); }

// Each byte is the character of that code (Latin-1), as the receive panes show it.
std::wstring Widen(std::string_view latin1);
// The same with each '\n' as the CR LF an edit control breaks lines at.
std::wstring WidenLines(std::string_view latin1);
// Characters beyond Latin-1 become '?'.
std::string Narrow(std::wstring_view text);
// UTF-8 texts (the trend window's, its design's captions) go to Windows
// through toUtf16 (Utf16Win32.h), the core's one conversion.

// A font pixelHeight designed pixels high (the character height, as the
// designer gives it), scaled.
HFONT MakeFont(const wchar_t* face, int pixelHeight, bool bold, bool fixedPitch);
HFONT MakeFont(const design::FontRequest& font);

// The text of a control.
std::wstring WindowText(HWND window);

// A modal dialog from an in-memory template without controls (the dialog
// procedure makes them in WM_INITDIALOG at the designed pixel positions,
// which dialog units cannot give); the result EndDialog was given.
INT_PTR ShowDialogWithoutTemplate(HWND owner, DLGPROC procedure, LPARAM parameter);
// WM_CTLCOLORSTATIC's answer for a static that says what is wrong: dark red
// on the dialog's face.
INT_PTR NoticeColours(WPARAM dc);

// The window procedure of windows that belong to an object of T: the object
// comes as CreateWindowEx's last parameter (or is set as the window's user
// data before the messages that matter), its member `window` holds the handle
// from creation to destruction, and `handle` answers every message between.
// Nothing throws through the system's dispatch: what escapes goes to the
// application's report.
template <class T, HWND T::*window, LRESULT (T::*handle)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK WindowProcOf(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        if (auto* created = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams)) {
            created->*window = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        }
    auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {  // nothing reaches the object after its window
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->*window = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    try {
        return (self->*handle)(message, wParam, lParam);
    } catch (...) {
        ShowCurrentException();
        return 0;
    }
}

// Gets and dispatches messages until WM_QUIT and returns its exit code.
// `preTranslate` sees each message first (accelerators, dialog keys) and
// returns true for those it took.
int RunMessageLoop(const std::function<bool(MSG&)>& preTranslate = {});

}  // namespace kestrel::win32
