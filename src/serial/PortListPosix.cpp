// Serial ports on POSIX: the tty class entries with a device behind them, plus
// the port now set when it is a terminal.

#include "serial/PortList.h"

#include "serial/CPort.h"
#include "serial/SystemErrorPosix.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The serial core reports type 0 for a port without hardware (the unused
// ttyS entries every PC kernel registers).
bool HasHardware(const std::string& entry) {
    std::ifstream type(entry + "/type");
    if (!type)
        return true;  // not a serial-core port (USB, ACM, ...): the device link says enough
    int value = 0;
    type >> value;
    return !type.fail() && value != 0;
}

// The same rule OpenPort uses: a name beginning with "/" is a path, any other
// lies below the device folder.
std::string DevicePath(const std::string& devDir, const std::string& name) {
    return name.starts_with('/') ? name : devDir + "/" + name;
}

bool IsTerminal(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool tty = ::isatty(fd) == 1;
    ::close(fd);
    return tty;
}

}  // namespace

std::vector<std::string> EnumComPortsFrom(const std::string& ttyClassDir, const std::string& devDir,
                                          const std::string& currentPort) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(ttyClassDir.c_str()), ::closedir);
    if (!dir)
        throw EComPort(CError_RegFailed, WinErrorFromErrno(errno));
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string entry = ttyClassDir + "/" + name;
        if (!Exists(entry + "/device") || !HasHardware(entry))
            continue;
        if (!Exists(devDir + "/" + name))
            continue;
        names.push_back(name);
    }
    if (!currentPort.empty() && std::find(names.begin(), names.end(), currentPort) == names.end() &&
        IsTerminal(DevicePath(devDir, currentPort)))
        names.push_back(currentPort);
    SortPortNames(names);
    return names;
}

std::vector<std::string> EnumComPorts(const std::string& currentPort) {
    return EnumComPortsFrom("/sys/class/tty", "/dev", currentPort);
}

}  // namespace kestrel
