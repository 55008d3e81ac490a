// The station folder on Linux: ~/KESTREL (see StationFolder.h).

#include "station/StationFolder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kestrel {
namespace {

std::string Reason(int error) { return std::generic_category().message(error); }

std::string CurrentFolder() {
    std::string buf(4096, '\0');
    if (::getcwd(buf.data(), buf.size()) == nullptr)
        return "the current folder";
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

}  // namespace

// Visible in the home folder, where a file manager and a mail program's
// attachment dialog open, and named the same in every language (unlike the
// XDG Documents folder); not a hidden data folder: the operator sends it on.
std::string PersonalStationFolder() {
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        home = pw->pw_dir;
    if (home.empty())
        return {};
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return (home == "/" ? home : home + "/") + kStationFolderName;
}

std::string EnterStationFolder(const std::string& folder) {
    if (folder.empty())
        return "No station folder: the system names no home folder. The program works in " + CurrentFolder() +
               " instead";
    int error = 0;
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
        error = errno;
    if (!error && ::chdir(folder.c_str()) != 0)
        error = errno;
    if (!error)
        return {};
    return "The station folder " + folder + " cannot be used (" + Reason(error) + "). The program works in " +
           CurrentFolder() + " instead";
}

std::string FolderWriteProblem(const std::string& folder) {
    const std::string probe = folder + "/.kestrel-write-test-" + std::to_string(::getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return Reason(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

}  // namespace kestrel
