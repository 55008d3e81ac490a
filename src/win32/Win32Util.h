#pragma once
// Small pieces the Win32 window and dialog share: the DPI scale of the designed
// 96-dpi sizes, Latin-1 text to and from the controls' UTF-16, fonts.

#include "station/WindowDesign.h"

#include <windows.h>

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

// A font pixelHeight designed pixels high (the character height, as the
// designer gives it), scaled.
HFONT MakeFont(const wchar_t* face, int pixelHeight, bool bold, bool fixedPitch);
HFONT MakeFont(const design::FontRequest& font);

// The text of a control.
std::wstring WindowText(HWND window);

}  // namespace kestrel::win32
