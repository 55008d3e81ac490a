// Profile strings through the Win32 API itself, so the settings file behaves
// exactly as every other Windows program's INI file. Paths, keys and values
// are UTF-8 inside and go to the wide functions.

#include "serial/ProfileStore.h"

#include "Utf16Win32.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace kestrel {
namespace {

// The API looks for a file given without a full path in the Windows folder;
// like every other file of the program, a relative one belongs to the
// current directory.
std::wstring fullPath(const std::string& path) {
    const std::wstring wide = toUtf16(path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return wide;
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);
    }
}

// The system's words for an error, or its number when it has none.
std::string reasonOf(DWORD error) {
    const std::string words = windowsMessage(error);
    return words.empty() ? "Windows error " + std::to_string(error) : words;
}

// What stands at the path (ProfileFileRefusal decides whether it is read).
// The API itself would read a folder or a pipe as an empty file and a file of
// any size whole.
ProfileFileFacts Probe(const std::wstring& full) {
    using Kind = ProfileFileFacts::Kind;
    ProfileFileFacts facts;
    // Backup semantics: a folder opens too, and is then refused as one.
    const HANDLE h = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        switch (const DWORD e = GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: facts.kind = Kind::Missing; break;
        case ERROR_CANT_RESOLVE_FILENAME: facts.kind = Kind::LinkLoop; break;  // Wine's answer to a link loop
        case ERROR_ACCESS_DENIED: facts.kind = Kind::Denied; break;
        case ERROR_SHARING_VIOLATION:
            facts.kind = Kind::Unreadable;
            facts.reason = "in use by another program";
            break;
        default:
            facts.kind = Kind::Unreadable;
            facts.reason = reasonOf(e);
            break;
        }
        return facts;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        facts.kind = Kind::NotRegular;
    } else {
        facts.kind = Kind::Regular;
        facts.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    }
    CloseHandle(h);
    return facts;
}

// Why the API may not write the file ("" when it may): not when it is
// read-only (checked here too, since Wine run by root would write it all the
// same), nor when it is there but cannot be opened for reading (held by
// another program without sharing, no access), as the API could then replace
// it with one that holds only our keys.
std::string whyNotWritable(const std::wstring& full) {
    if (std::string refusal = ProfileFileRefusal(Probe(full)); !refusal.empty())
        return "the file " + refusal;  // what is not read is never replaced
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return "the file is read-only";
    const HANDLE h = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return {};
    }
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? std::string() : reasonOf(e);
}

class ProfileStoreWin32 final : public ProfileStore {
public:
    std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        const std::wstring full = fullPath(path);
        if (!ProfileFileRefusal(Probe(full)).empty())
            return defaultValue;
        // One more than the longest value, for the terminator: the API cuts
        // longer values to fit.
        std::wstring buf(kProfileValueMax + 1, L'\0');
        const DWORD n =
            GetPrivateProfileStringW(toUtf16(section).c_str(), toUtf16(key).c_str(), toUtf16(defaultValue).c_str(),
                                     buf.data(), static_cast<DWORD>(buf.size()), full.c_str());
        buf.resize(n);
        return toUtf8(buf);
    }

    std::string WhyUnreadable(const std::string& path) override { return ProfileFileRefusal(Probe(fullPath(path))); }

    bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) override {
        return WriteStrings(path, section, {{key, value}});
    }

    // The file is looked at once for all the keys: the settings are stored
    // at every close.
    bool WriteStrings(const std::string& path, const std::string& section, const ProfileKeys& keys) override {
        const std::wstring full = fullPath(path);
        whyNotWritten_ = whyNotWritable(full);
        if (!whyNotWritten_.empty())
            return false;
        for (const auto& [key, value] : keys)
            if (!WritePrivateProfileStringW(toUtf16(section).c_str(), toUtf16(key).c_str(), toUtf16(value).c_str(),
                                            full.c_str())) {
                whyNotWritten_ = reasonOf(GetLastError());
                return false;
            }
        return true;
    }

    std::string WhyNotWritten() override { return whyNotWritten_; }

private:
    std::string whyNotWritten_;
};

}  // namespace

std::unique_ptr<ProfileStore> CreateProfileStore() { return std::make_unique<ProfileStoreWin32>(); }

}  // namespace kestrel
