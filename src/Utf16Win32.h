#pragma once
// UTF-8 inside, UTF-16 at the Windows API: every path and text the core
// hands to Windows (or takes from it) is converted at the call, so that a
// folder named in any script works whatever the system's code page, and the
// system's words for an error come back as UTF-8 like every other text.
// Included by the cores' *Win32.cpp files only.

#include <windows.h>

#include <string>
#include <string_view>

namespace kestrel {

inline std::wstring toUtf16(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

inline std::string toUtf8(std::wstring_view utf16) {
    if (utf16.empty())
        return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), text.data(), n, nullptr, nullptr);
    return text;
}

// The system's words for a Windows error (or Winsock's), without the closing
// full stop and line break, in the system's language; "" when it has none.
inline std::string windowsMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring words = n && text ? std::wstring(text, n) : std::wstring();
    if (text)
        LocalFree(text);
    while (!words.empty() &&
           (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    return toUtf8(words);
}

}  // namespace kestrel
