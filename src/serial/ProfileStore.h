#pragma once
// INI-file ("profile string") access with the Win32 rules: section and key
// names match without regard to case; a value is the text after the first
// "=", without surrounding blanks and without one pair of enclosing single or
// double quotes, cut to 2047 characters; a missing file, section or key gives
// the default. A write creates the file or section when missing, replaces an
// existing key in place and keeps every other line; lines end in CR LF.
//
// ProfileStorePosix.cpp implements the rules itself, ProfileStoreWin32.cpp
// with GetPrivateProfileStringA/WritePrivateProfileStringA.

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

class ProfileStore {
public:
    virtual ~ProfileStore() = default;
    virtual std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                                   const std::string& defaultValue) = 0;
    // false when the file cannot be written.
    virtual bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& value) = 0;
};

// The platform's store.
std::unique_ptr<ProfileStore> CreateProfileStore();

// Integer reading of a profile value: longer than two characters and starting
// with "0x"/"0X" is hexadecimal, anything else decimal; a text that is not a
// valid 32-bit integer gives the default.
int32_t ProfileIntegerFromText(const std::string& text, int32_t defaultValue);

inline constexpr std::size_t kProfileValueMax = 2047;

}  // namespace kestrel
