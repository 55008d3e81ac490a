// The station folder on Windows: Documents\KESTREL (see StationFolder.h).

#include "station/StationFolder.h"

#include <windows.h>
#include <shlobj.h>

namespace kestrel {
namespace {

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                      static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow(text.size() * 2 + 1, '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                                      static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return narrow;
}

// The system's text for an error, without its closing full stop and line break.
std::string Reason(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring reason = n && text ? std::wstring(text, n) : L"";
    if (text)
        LocalFree(text);
    while (!reason.empty() &&
           (reason.back() == L'\r' || reason.back() == L'\n' || reason.back() == L' ' || reason.back() == L'.'))
        reason.pop_back();
    return reason.empty() ? "error " + std::to_string(error) : Narrow(reason);
}

std::string CurrentFolder() {
    wchar_t buf[MAX_PATH * 4] = {};
    const DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buf);
    return n > 0 && n < MAX_PATH * 4 ? Narrow(buf) : "the current folder";
}

}  // namespace

// Documents, where Windows users keep their files and where Explorer and a
// mail program's attachment dialog look first (redirected with it, if the
// user moved Documents).
std::string PersonalStationFolder() {
    wchar_t documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, documents)))
        return {};
    std::wstring folder = documents;
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return Narrow(folder) + kStationFolderName;
}

std::string EnterStationFolder(const std::string& folder) {
    if (folder.empty())
        return "No station folder: the system names no Documents folder. The program works in " + CurrentFolder() +
               " instead";
    const std::wstring wide = Wide(folder);
    DWORD error = 0;
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        error = GetLastError();
    if (!error && !SetCurrentDirectoryW(wide.c_str()))
        error = GetLastError();
    if (!error)
        return {};
    return "The station folder " + folder + " cannot be used (" + Reason(error) + "). The program works in " +
           CurrentFolder() + " instead";
}

std::string FolderWriteProblem(const std::string& folder) {
    const std::wstring probe = Wide(folder) + L"\\.kestrel-write-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Reason(GetLastError());
    CloseHandle(h);
    return {};
}

}  // namespace kestrel
