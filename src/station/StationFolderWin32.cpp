// The station folder on Windows: Documents\KESTREL (see StationFolder.h),
// named in UTF-8 like every path inside the program.

#include "station/StationFolder.h"

#include "Utf16Win32.h"

#include <windows.h>
#include <shlobj.h>

namespace kestrel {
namespace {

// The system's text for an error, or its number when it has none.
std::string Reason(DWORD error) {
    const std::string words = windowsMessage(error);
    return words.empty() ? "error " + std::to_string(error) : words;
}

std::string CurrentFolder() {
    wchar_t buf[MAX_PATH * 4] = {};
    const DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buf);
    return n > 0 && n < MAX_PATH * 4 ? toUtf8(buf) : "the current folder";
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
    return toUtf8(folder) + kStationFolderName;
}

std::string EnterStationFolder(const std::string& folder) {
    if (folder.empty())
        return "No station folder: the system names no Documents folder. The program works in " + CurrentFolder() +
               " instead";
    const std::wstring wide = toUtf16(folder);
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
    const std::wstring probe = toUtf16(folder) + L"\\.kestrel-write-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Reason(GetLastError());
    CloseHandle(h);
    return {};
}

}  // namespace kestrel
