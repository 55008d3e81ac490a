// Profile strings through the Win32 API itself, so the settings file behaves
// exactly as every other Windows program's INI file.

#include "serial/ProfileStore.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace kestrel {
namespace {

// The API looks for a file given without a full path in the Windows folder;
// like every other file of the program, a relative one belongs to the
// current directory.
std::string fullPath(const std::string& path) {
    std::string full(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return path;
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);
    }
}

// What stands at the path (ProfileFileRefusal decides whether it is read).
// The API itself would read a folder or a pipe as an empty file and a file of
// any size whole.
ProfileFileFacts Probe(const std::string& full) {
    using Kind = ProfileFileFacts::Kind;
    ProfileFileFacts facts;
    // Backup semantics: a folder opens too, and is then refused as one.
    const HANDLE h = CreateFileA(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
            facts.reason = "Windows error " + std::to_string(e);
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

// Whether the API may write the file: not when it is read-only (checked here
// too, since Wine run by root would write it all the same), nor when it is
// there but cannot be opened for reading (held by another program without
// sharing, no access), as the API could then replace it with one that holds
// only our keys.
bool mayWrite(const std::string& full) {
    if (!ProfileFileRefusal(Probe(full)).empty())
        return false;  // what is not read is never replaced
    const DWORD attributes = GetFileAttributesA(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const HANDLE h = CreateFileA(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return true;
    }
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

class ProfileStoreWin32 final : public ProfileStore {
public:
    std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        const std::string full = fullPath(path);
        if (!ProfileFileRefusal(Probe(full)).empty())
            return defaultValue;
        // One more than the longest value, for the terminator: the API cuts
        // longer values to fit.
        std::string buf(kProfileValueMax + 1, '\0');
        const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buf.data(),
                                                 static_cast<DWORD>(buf.size()), full.c_str());
        buf.resize(n);
        return buf;
    }

    std::string WhyUnreadable(const std::string& path) override { return ProfileFileRefusal(Probe(fullPath(path))); }

    bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) override {
        return WriteStrings(path, section, {{key, value}});
    }

    // The file is looked at once for all the keys: the settings are stored
    // at every close.
    bool WriteStrings(const std::string& path, const std::string& section, const ProfileKeys& keys) override {
        const std::string full = fullPath(path);
        if (!mayWrite(full))
            return false;
        for (const auto& [key, value] : keys)
            if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), full.c_str()))
                return false;
        return true;
    }
};

}  // namespace

std::unique_ptr<ProfileStore> CreateProfileStore() { return std::make_unique<ProfileStoreWin32>(); }

}  // namespace kestrel
