// Profile strings on hosts without the Win32 profile API: the same rules
// (ProfileText.cpp), with the file replaced as a whole on every write.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/ProfileStore.h"
#include "serial/ProfileText.h"

namespace kestrel {

namespace {

constexpr int kMaxLinkHops = 40;

enum class ReadResult { Ok, Missing, Failed };

ProfileFileFacts::Kind KindOfOpenError(int err) {
    using Kind = ProfileFileFacts::Kind;
    switch (err) {
    case ENOENT: return Kind::Missing;
    case ELOOP: return Kind::LinkLoop;
    case EACCES:
    case EPERM: return Kind::Denied;
    }
    return Kind::Unreadable;
}

// The file's text, or why it is not read (facts, for ProfileFileRefusal).
ReadResult readWhole(const std::string& path, std::string& text, struct stat& st, ProfileFileFacts& facts) {
    using Kind = ProfileFileFacts::Kind;
    facts = {};
    // O_NONBLOCK: a FIFO at that name must not hang us; it is refused below.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        facts.kind = KindOfOpenError(errno);
        facts.reason = std::strerror(errno);
        return facts.kind == Kind::Missing ? ReadResult::Missing : ReadResult::Failed;
    }
    ReadResult result = ReadResult::Failed;
    if (::fstat(fd, &st) != 0) {
        facts.kind = Kind::Unreadable;
        facts.reason = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        facts.kind = Kind::NotRegular;
    } else {
        facts.kind = Kind::Regular;
        facts.size = static_cast<std::uint64_t>(st.st_size);
        if (ProfileFileRefusal(facts).empty()) {
            text.clear();
            char buf[4096];
            for (;;) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    text.append(buf, static_cast<std::size_t>(n));
                    facts.size = std::max<std::uint64_t>(facts.size, text.size());
                    if (facts.size > kProfileFileMax)
                        break;  // it grew while being read
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n == 0) {
                    result = ReadResult::Ok;
                } else {
                    facts.kind = Kind::Unreadable;
                    facts.reason = std::strerror(errno);
                }
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return ::fsync(fd) == 0;
}

// The file a path stands for once symbolic links are followed, so that a
// linked settings file is written where it lives and the link stays a link.
// A missing last name is fine (the file will be created there); false for a
// link loop or a link that cannot be read.
bool followLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0)
            return errno == ENOENT;
        if (!S_ISLNK(st.st_mode))
            return true;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<std::size_t>(n) >= link.size())
            return false;
        link.resize(static_cast<std::size_t>(n));
        if (link.empty())
            return false;
        if (link.front() != '/') {
            const std::size_t slash = target.rfind('/');
            link = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
        }
        target = std::move(link);
    }
    return false;
}

// The system's words for the errno a failed step left.
std::string lastReason() { return std::strerror(errno); }

// A file that was not there: written whole under a temporary name and then
// linked to its own name, which fails when something appeared there meanwhile,
// so nothing is overwritten and no reader finds it half written. Where the
// file system has no links, it is created exclusively under its own name.
// "" when written, else why not.
std::string createNew(const std::string& target, const std::string& text) {
    // Opened as the file itself would be, so the umask gives it its mode.
    static std::atomic<unsigned> serial{0};
    const std::string temp = target + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    const int tempFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (tempFd >= 0) {
        std::string why = writeAll(tempFd, text) ? std::string() : lastReason();
        if (::close(tempFd) != 0 && why.empty())
            why = lastReason();
        const bool linked = why.empty() && ::link(temp.c_str(), target.c_str()) == 0;
        const int linkError = errno;
        ::unlink(temp.c_str());
        if (linked)
            return {};
        if (!why.empty())
            return why;
        if (linkError != EPERM && linkError != ENOSYS && linkError != EOPNOTSUPP)
            return std::strerror(linkError);
    }
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return lastReason();
    std::string why = writeAll(fd, text) ? std::string() : lastReason();
    if (::close(fd) != 0 && why.empty())
        why = lastReason();
    if (!why.empty())
        ::unlink(target.c_str());
    return why;
}

// An existing file: the new text goes into a temporary file of its own beside
// it (created exclusively, never through a name that is already there), takes
// the file's owner and mode, and is renamed over it, so a failed write never
// leaves a half-written file behind. "" when written, else why not.
std::string replace(const std::string& target, const struct stat& st, const std::string& text) {
    std::string temp = target + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        if (errno != EACCES && errno != EPERM)
            return lastReason();
        // A folder we may not add to, holding a file we may write: in place.
        const int in = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
        if (in < 0)
            return lastReason();
        std::string why = writeAll(in, text) ? std::string() : lastReason();
        if (::close(in) != 0 && why.empty())
            why = lastReason();
        return why;
    }
    if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Not ours to give away: the file then belongs to us, as any rewrite would.
    }
    std::string why = ::fchmod(fd, st.st_mode & 07777) == 0 && writeAll(fd, text) ? std::string() : lastReason();
    if (::close(fd) != 0 && why.empty())
        why = lastReason();
    if (why.empty() && ::rename(temp.c_str(), target.c_str()) == 0)
        return {};
    if (why.empty())
        why = lastReason();
    ::unlink(temp.c_str());
    return why;
}

class ProfileStorePosix final : public ProfileStore {
public:
    std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        std::string text;
        struct stat st {};
        ProfileFileFacts facts;
        if (readWhole(path, text, st, facts) != ReadResult::Ok)
            return defaultValue;
        return ProfileTextLookup(text, section, key).value_or(defaultValue);
    }

    bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) override {
        return WriteStrings(path, section, {{key, value}});
    }

    std::string WhyUnreadable(const std::string& path) override {
        std::string text;
        struct stat st {};
        ProfileFileFacts facts;
        readWhole(path, text, st, facts);
        return ProfileFileRefusal(facts);
    }

    bool WriteStrings(const std::string& path, const std::string& section, const ProfileKeys& keys) override {
        return WriteSections(path, {{section, keys}});
    }

    bool WriteSections(const std::string& path, const ProfileSections& sections) override {
        whyNotWritten_ = write(path, sections);
        return whyNotWritten_.empty();
    }

    std::string WhyNotWritten() override { return whyNotWritten_; }

private:
    // "" when written, else why not.
    static std::string write(const std::string& path, const ProfileSections& sections) {
        auto withKeys = [&](std::string text) {
            for (const auto& [section, keys] : sections)
                text = ProfileTextWithKeys(text, section, keys);
            return text;
        };
        std::string target;
        if (!followLinks(path, target))
            return "the file is a link that leads nowhere or in a loop";
        std::string text;
        struct stat st {};
        ProfileFileFacts facts;
        switch (readWhole(target, text, st, facts)) {
        case ReadResult::Missing: return createNew(target, withKeys(""));
        case ReadResult::Failed:
            return "the file " + ProfileFileRefusal(facts);  // never replace what we could not read
        case ReadResult::Ok: break;
        }
        // Read-only means no write bit at all, as it does for the owner of
        // the file and for root alike; the rename would not ask.
        if ((st.st_mode & 0222) == 0)
            return "the file is read-only";
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return lastReason();
        return replace(target, st, withKeys(std::move(text)));
    }

    std::string whyNotWritten_;
};

}  // namespace

std::unique_ptr<ProfileStore> CreateProfileStore() { return std::make_unique<ProfileStorePosix>(); }

}  // namespace kestrel
