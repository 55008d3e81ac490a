#pragma once
// INI-file ("profile string") access with the Win32 rules: section and key
// names match without regard to case; a value is the text after the first
// "=", without surrounding blanks and without one pair of enclosing single or
// double quotes, cut to 2047 characters; a missing file, section or key gives
// the default. A write creates the file or section when missing, replaces an
// existing key in place and keeps every other line; lines end in CR LF.
// A file that exists but cannot be read, or may not be written, is never
// replaced: the write fails and the file stays as it was.
//
// ProfileStorePosix.cpp implements the rules itself, ProfileStoreWin32.cpp
// with GetPrivateProfileStringW/WritePrivateProfileStringW.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

// Keys and their values, in writing order.
using ProfileKeys = std::vector<std::pair<std::string, std::string>>;
// Sections, each with its keys, in writing order.
using ProfileSections = std::vector<std::pair<std::string, ProfileKeys>>;

class ProfileStore {
public:
    virtual ~ProfileStore() = default;
    virtual std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                                   const std::string& defaultValue) = 0;
    // false when the file cannot be written.
    virtual bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    // Why a settings file that is there is not read ("is not a regular
    // file"), or "" when it is read or missing. This one knows no reason.
    virtual std::string WhyUnreadable(const std::string& /*path*/) { return {}; }
    // Why the last write that failed did not write the file, in the
    // system's words ("permission denied"); "" when this store cannot tell.
    virtual std::string WhyNotWritten() { return {}; }
    // Several keys of one section in one go; false when the file cannot be
    // written. This one writes them one by one; a store that rewrites whole
    // files does it in one replacement, so a failure leaves none written.
    virtual bool WriteStrings(const std::string& path, const std::string& section, const ProfileKeys& keys) {
        for (const auto& [key, value] : keys)
            if (!WriteString(path, section, key, value))
                return false;
        return true;
    }
    // The keys of several sections, likewise: in one replacement where the
    // store rewrites whole files, so a reader never finds some sections new
    // and others old.
    virtual bool WriteSections(const std::string& path, const ProfileSections& sections) {
        for (const auto& [section, keys] : sections)
            if (!WriteStrings(path, section, keys))
                return false;
        return true;
    }
};

// The platform's store.
std::unique_ptr<ProfileStore> CreateProfileStore();

// Integer reading of a profile value: longer than two characters and starting
// with "0x"/"0X" is hexadecimal, anything else decimal; a text that is not a
// valid 32-bit integer gives the default.
int32_t ProfileIntegerFromText(const std::string& text, int32_t defaultValue);

inline constexpr std::size_t kProfileValueMax = 2047;

// What stands at a settings file's path, as the platform finds it before
// reading; the rule below decides, the same for every platform, whether it
// is read.
struct ProfileFileFacts {
    enum class Kind {
        Missing,     // nothing there: the defaults, and the file is made at the next store
        Regular,     // a file of `size` bytes
        NotRegular,  // a folder, a FIFO, a device
        LinkLoop,    // links that lead to one another
        Denied,      // no permission to read it
        Unreadable,  // any other failure, in the system's words (`reason`)
    };
    Kind kind = Kind::Missing;
    std::uint64_t size = 0;
    std::string reason;
};

// A settings file is a few hundred bytes; anything far larger is not one.
inline constexpr std::uint64_t kProfileFileMax = 16 * 1024 * 1024;

// Why a file with these facts is not read ("is not a regular file", "is
// larger than 16 MB", "cannot be read: ..."), or "" when it is read (or
// missing). A file that is not read is never written either.
std::string ProfileFileRefusal(const ProfileFileFacts& facts);

}  // namespace kestrel
