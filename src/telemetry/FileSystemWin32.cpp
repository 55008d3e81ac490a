// The archive's and the outbox's file operations on Windows, with Win32 errors
// turned into the archive's error codes and texts. Paths are UTF-8 inside and
// go to the wide (UTF-16) functions, so a folder named in any script works
// whatever the system's code page.
//
// Sections:
//   Errors and handles   Win32 errors as the archive's codes; a handle opened
//                        and checked
//   Names                ExactNames: a name's exact spelling in its folder
//   File system          FileSystemWin32; the process's one instance, and
//                        openFile for C streams

#include "telemetry/FileSystem.h"

#include "Utf16Win32.h"
#include "telemetry/InOutError.h"

#include <windows.h>

#include <map>
#include <mutex>

namespace kestrel {

const char kPathSeparator = '\\';

namespace {

// The archive's error texts from a Win32 error code: access denied and a full
// disk have words of their own, a taken name the archive's own code, anything
// else reads "I/O error <code> (<the system's words>)".
// ---- Errors and handles -------------------------------------------------------------

EInOutError ioErrorFromWin32(DWORD err) {
    switch (err) {
    case ERROR_ACCESS_DENIED: return EInOutError::fromCode(kIoFileAccessDenied);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return EInOutError::fromCode(kIoDiskFull);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EInOutError::fromCode(kIoFileExists);
    default: break;
    }
    // Codes mingw-w64's headers do not all name.
    constexpr DWORD kFileSystemLimitation = 665;  // ERROR_FILE_SYSTEM_LIMITATION
    constexpr DWORD kDiskQuotaExceeded = 1295;    // ERROR_DISK_QUOTA_EXCEEDED
    const int code = static_cast<int>(err);
    IoCause cause = IoCause::Other;
    if (err == ERROR_FILE_TOO_LARGE || err == kFileSystemLimitation)
        cause = IoCause::FileTooLarge;
    else if (err == kDiskQuotaExceeded)
        cause = IoCause::Quota;
    return EInOutError(code, ioErrorText(code, windowsMessage(err)), cause);
}

[[noreturn]] void throwLastError() { throw ioErrorFromWin32(GetLastError()); }

HANDLE handleOf(FileHandle file) {
    if (file == kNoFile)
        throw EInOutError::fromCode(kIoFileNotOpen);
    return reinterpret_cast<HANDLE>(file);
}

FileHandle openChecked(const std::string& path, DWORD access, DWORD disposition) {
    // Readers may look at a log while it is open; nobody else may write it.
    HANDLE h = CreateFileW(toUtf16(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throwLastError();
    return reinterpret_cast<FileHandle>(h);
}

// Under Wine a name that is not in its folder costs a look through the whole
// folder (Wine seeks it without regard to case), and raw_data holds tens of
// thousands of RawFrameFiles: the names the archive creates, renames and
// removes go through Wine's Unix namespace (\\?\unix\...), where a name is
// looked up as it is written. Windows has neither that namespace nor that
// cost: there, and for a folder Wine cannot name, the path stays as it is.
// ---- Names --------------------------------------------------------------------------

class ExactNames {
public:
    ExactNames()
        : toUnix_(reinterpret_cast<ToUnix>(
              reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")))) {}

    // The path for the W calls.
    std::wstring operator()(const std::string& path) {
        const auto cut = path.find_last_of('\\');
        if (toUnix_ && cut != std::string::npos && path.size() > 2 && path[1] == ':' && path[2] == '\\') {
            const std::wstring& folder = unixFolder(path.substr(0, cut));
            if (!folder.empty())
                return folder + toUtf16(path.substr(cut));
        }
        return toUtf16(path);
    }

private:
    using ToUnix = char*(CDECL*)(LPCWSTR);

    const std::wstring& unixFolder(const std::string& folder) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto known = folders_.find(folder);
        if (known != folders_.end())
            return known->second;
        std::wstring exact;
        if (char* unix = toUnix_(toUtf16(folder).c_str())) {
            std::string name = unix;
            HeapFree(GetProcessHeap(), 0, unix);
            for (char& c : name)
                if (c == '/')
                    c = '\\';
            exact = L"\\\\?\\unix" + toUtf16(name);
            const DWORD attributes = GetFileAttributesW(exact.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                exact.clear();
        }
        // A folder not there yet is looked up again next time.
        if (exact.empty())
            return empty_;
        return folders_.emplace(folder, std::move(exact)).first->second;
    }

    ToUnix toUnix_;
    std::mutex mutex_;
    std::map<std::string, std::wstring> folders_;
    const std::wstring empty_;
};

// ---- File system --------------------------------------------------------------------

class FileSystemWin32 final : public IFileSystem {
public:
    std::string currentDirectory() override {
        // The API leaves the trailing backslash only at a drive's root.
        std::wstring buf(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
            if (n == 0)
                throwLastError();
            if (n < buf.size()) {
                buf.resize(n);
                return toUtf8(buf);
            }
            buf.resize(n);  // n is the size needed, terminator included
        }
    }

    bool directoryExists(const std::string& path) override {
        const DWORD attr = GetFileAttributesW(toUtf16(path).c_str());
        return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    void createDirectory(const std::string& path) override {
        if (!CreateDirectoryW(toUtf16(path).c_str(), nullptr))
            throwLastError();
    }

    bool fileExists(const std::string& path) override {
        const DWORD attr = GetFileAttributesW(toUtf16(path).c_str());
        return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    FileHandle createFile(const std::string& path) override {
        HANDLE h = CreateFileW(exact_(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            throwLastError();
        return reinterpret_cast<FileHandle>(h);
    }

    FileHandle openForAppend(const std::string& path) override {
        // Append-only access: every write goes to the current end of the file.
        return openChecked(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_EXISTING);
    }

    void write(FileHandle file, const void* data, std::size_t size) override {
        HANDLE h = handleOf(file);
        if (size > MAXDWORD)
            throw ioErrorFromWin32(ERROR_INVALID_PARAMETER);
        DWORD written = 0;
        if (!WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr))
            throwLastError();
        if (written != size) {
            EInOutError e = EInOutError::fromCode(kIoDiskFull);
            e.BytesWritten = written;
            throw e;
        }
    }

    void close(FileHandle file) override {
        if (!CloseHandle(handleOf(file)))
            throwLastError();
    }

    FileHandle openOrCreate(const std::string& path) override {
        // Plain write access (appending alone could not be cut back); writes go
        // to the end because nothing but this handle moves it.
        const FileHandle file = openChecked(path, GENERIC_WRITE, OPEN_ALWAYS);
        LARGE_INTEGER zero{};
        if (!SetFilePointerEx(reinterpret_cast<HANDLE>(file), zero, nullptr, FILE_END)) {
            const DWORD err = GetLastError();
            CloseHandle(reinterpret_cast<HANDLE>(file));
            throw ioErrorFromWin32(err);
        }
        return file;
    }

    void truncate(FileHandle file, std::uint64_t size) override {
        HANDLE h = handleOf(file);
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h))
            throwLastError();
    }

    void sync(FileHandle file) override {
        if (!FlushFileBuffers(handleOf(file)))
            throwLastError();
    }

    std::string readFile(const std::string& path) override {
        HANDLE h = CreateFileW(toUtf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            throw err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? EInOutError::fromCode(kIoFileNotFound)
                                                                             : ioErrorFromWin32(err);
        }
        std::string text;
        char buf[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
                const DWORD err = GetLastError();
                CloseHandle(h);
                throw ioErrorFromWin32(err);
            }
            if (got == 0)
                break;
            text.append(buf, got);
        }
        CloseHandle(h);
        return text;
    }

    FileHandle lockFile(const std::string& path) override {
        // No sharing at all: a second program's open fails. The byte lock on
        // top is what Wine shows to Linux programs as a POSIX lock.
        HANDLE h = CreateFileW(toUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION)
                return kNoFile;
            throw ioErrorFromWin32(err);
        }
        OVERLAPPED at{};
        if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at)) {
            const DWORD err = GetLastError();
            CloseHandle(h);
            if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING)
                return kNoFile;
            throw ioErrorFromWin32(err);
        }
        return reinterpret_cast<FileHandle>(h);
    }

    bool removeFile(const std::string& path) noexcept override {
        try {
            return DeleteFileW(exact_(path).c_str()) != 0;
        } catch (...) {
            return false;
        }
    }

    void cutTail(const std::string& path, std::uint64_t count) override {
        const HANDLE h = CreateFileW(toUtf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            throwLastError();
        LARGE_INTEGER size{};
        bool ok = GetFileSizeEx(h, &size) != 0;
        if (ok) {
            LARGE_INTEGER end{};
            end.QuadPart =
                static_cast<LONGLONG>(count) < size.QuadPart ? size.QuadPart - static_cast<LONGLONG>(count) : 0;
            ok = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
        }
        const DWORD err = GetLastError();
        CloseHandle(h);
        if (!ok)
            throw ioErrorFromWin32(err);
    }

    void renameNoReplace(const std::string& from, const std::string& to) override {
        // Without MOVEFILE_REPLACE_EXISTING a taken name fails.
        if (!MoveFileExW(exact_(from).c_str(), exact_(to).c_str(), 0))
            throwLastError();
    }

    std::vector<std::string> fileNames(const std::string& folder) override {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(toUtf16(JoinPath(folder, "*")).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(toUtf8(found.cFileName));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }

    std::optional<std::uint64_t> freeSpace(const std::string& path) override {
        ULARGE_INTEGER available{};
        if (!GetDiskFreeSpaceExW(toUtf16(path).c_str(), &available, nullptr, nullptr))
            return std::nullopt;
        return available.QuadPart;  // this user's share, quotas counted
    }

private:
    ExactNames exact_;
};

}  // namespace

IFileSystem& systemFileSystem() {
    static FileSystemWin32 fs;
    return fs;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(toUtf16(path).c_str(), toUtf16(mode).c_str());
}

}  // namespace kestrel
