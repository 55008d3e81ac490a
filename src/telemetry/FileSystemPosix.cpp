// The archive's and the outbox's file operations on Linux, with errno turned
// into the archive's error codes and texts.

#include "telemetry/FileSystem.h"

#include "telemetry/InOutError.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kestrel {

const char kPathSeparator = '/';

namespace {

[[noreturn]] void throwErrno() { throw ioErrorFromErrno(errno); }

int descriptor(FileHandle file) {
    if (file < 0 || file > INT_MAX)
        throw EInOutError::fromCode(kIoFileNotOpen);
    return static_cast<int>(file);
}

FileHandle openChecked(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throwErrno();
    return fd;
}

class FileSystemPosix final : public IFileSystem {
public:
    std::string currentDirectory() override {
        std::string buf(256, '\0');
        while (::getcwd(buf.data(), buf.size()) == nullptr) {
            if (errno != ERANGE)
                throwErrno();
            buf.resize(buf.size() * 2);
        }
        buf.resize(std::char_traits<char>::length(buf.c_str()));
        return buf;
    }

    bool directoryExists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    void createDirectory(const std::string& path) override {
        if (::mkdir(path.c_str(), 0777) != 0)
            throwErrno();
    }

    bool fileExists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    }

    FileHandle createFile(const std::string& path) override { return openChecked(path, O_WRONLY | O_CREAT | O_EXCL); }

    FileHandle openForAppend(const std::string& path) override { return openChecked(path, O_WRONLY | O_APPEND); }

    void write(FileHandle file, const void* data, std::size_t size) override {
        const int fd = descriptor(file);
        const char* bytes = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, bytes + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // What did go out stays counted, so a caller can tell exactly
                // which bytes are missing.
                EInOutError e = n < 0 ? ioErrorFromErrno(errno) : EInOutError::fromCode(kIoDiskFull);
                e.BytesWritten = done;
                throw e;
            }
            done += static_cast<std::size_t>(n);
        }
    }

    void close(FileHandle file) override {
        // No retry on EINTR: the descriptor is released either way on Linux.
        if (::close(descriptor(file)) != 0 && errno != EINTR)
            throwErrno();
    }

    FileHandle openOrCreate(const std::string& path) override {
        return openChecked(path, O_WRONLY | O_CREAT | O_APPEND);
    }

    void truncate(FileHandle file, std::uint64_t size) override {
        int rc;
        do {
            rc = ::ftruncate(descriptor(file), static_cast<off_t>(size));
        } while (rc != 0 && errno == EINTR);
        if (rc != 0)
            throwErrno();
    }

    void sync(FileHandle file) override {
        if (::fdatasync(descriptor(file)) != 0)
            throwErrno();
    }

    std::string readFile(const std::string& path) override {
        const int fd = static_cast<int>(openChecked(path, O_RDONLY));
        std::string text;
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                const int err = errno;
                ::close(fd);
                throw ioErrorFromErrno(err);
            }
            if (n == 0)
                break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return text;
    }

    FileHandle lockFile(const std::string& path) override {
        const int fd = static_cast<int>(openChecked(path, O_RDWR | O_CREAT));
        // A lock of the open file, not of the process: a second open in this
        // process is kept out as well. Wine turns a Windows program's file
        // lock into a POSIX one, which this one conflicts with.
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        int rc = ::fcntl(fd, F_OFD_SETLK, &lock);
        if (rc != 0 && errno == EINVAL)
            rc = ::fcntl(fd, F_SETLK, &lock);  // a kernel without open-file locks
        if (rc == 0)
            return fd;
        const int err = errno;
        ::close(fd);
        if (err == EAGAIN || err == EACCES)
            return kNoFile;
        throw ioErrorFromErrno(err);
    }

    bool removeFile(const std::string& path) noexcept override { return ::unlink(path.c_str()) == 0; }

    void cutTail(const std::string& path, std::uint64_t count) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            throwErrno();
        const auto size = static_cast<std::uint64_t>(st.st_size);
        if (::truncate(path.c_str(), static_cast<off_t>(count < size ? size - count : 0)) != 0)
            throwErrno();
    }

    void renameNoReplace(const std::string& from, const std::string& to) override {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return;
        if (errno != EINVAL && errno != ENOSYS)
            throwErrno();
        // A file system without the flag: a second name, then the first one
        // goes; link() never replaces either.
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return;
        }
        if (errno != EPERM && errno != ENOTSUP)
            throwErrno();
        // Nor hard links (FAT): the best left is to look first.
        struct stat st {};
        if (::lstat(to.c_str(), &st) == 0)
            throw EInOutError::fromCode(kIoFileExists);
        if (::rename(from.c_str(), to.c_str()) != 0)
            throwErrno();
    }

    std::vector<std::string> fileNames(const std::string& folder) override {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            return names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && fileExists(JoinPath(folder, name)))
                names.push_back(name);
        }
        ::closedir(dir);
        return names;
    }

    std::optional<std::uint64_t> freeSpace(const std::string& path) override {
        struct statvfs st {};
        if (::statvfs(path.c_str(), &st) != 0)
            return std::nullopt;
        // What an unprivileged writer gets: the blocks kept for root are not room.
        return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    }
};

}  // namespace

IFileSystem& systemFileSystem() {
    static FileSystemPosix fs;
    return fs;
}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

}  // namespace kestrel
