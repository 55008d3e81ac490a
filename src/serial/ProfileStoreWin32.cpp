// Profile strings through the Win32 API itself, so the settings file behaves
// exactly as every other Windows program's INI file.

#include "serial/ProfileStore.h"

#include <windows.h>

namespace kestrel {
namespace {

class ProfileStoreWin32 final : public ProfileStore {
public:
    std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        // One more than the longest value, for the terminator: the API cuts
        // longer values to fit.
        std::string buf(kProfileValueMax + 1, '\0');
        const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buf.data(),
                                                 static_cast<DWORD>(buf.size()), path.c_str());
        buf.resize(n);
        return buf;
    }

    bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) override {
        return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != FALSE;
    }
};

}  // namespace

std::unique_ptr<ProfileStore> CreateProfileStore() { return std::make_unique<ProfileStoreWin32>(); }

}  // namespace kestrel
