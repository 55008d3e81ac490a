#pragma once
// Case folding of the ASCII letters only, as the settings file, the port
// names and the setup dialog's lists compare text: bytes above 127 are
// characters of whatever code page the file was written in and stay as they are.

#include <algorithm>
#include <string>
#include <string_view>

namespace kestrel {

inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline bool SameTextAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Order of the port list: letters as lower case, so "_" sorts before them.
inline bool LessTextAscii(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(AsciiLower(x)) < static_cast<unsigned char>(AsciiLower(y));
    });
}

}  // namespace kestrel
