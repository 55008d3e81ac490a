// Serial ports on POSIX: the tty class entries with a device behind them, the
// stable names of /dev/serial/by-id that lead to one of them, and the port now
// set when it is a terminal. Nothing is opened to find out: opening a UART
// raises DTR and RTS, which can key a transmitter hanging off the line.

#include "serial/PortListPosix.h"

#include "serial/CPort.h"
#include "serial/SystemErrorPosix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace kestrel {
namespace {

// Pseudo-terminal slaves (/dev/pts/N): majors 136 to 143. They have no tty
// class entry, and the tests and the simulator use them as ports.
constexpr unsigned kPtySlaveMajorFirst = 136, kPtySlaveMajorLast = 143;

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

// The "major:minor" a class entry gives for its device node.
std::string DeviceNumber(const std::string& entry) {
    std::ifstream dev(entry + "/dev");
    std::string text;
    std::getline(dev, text);
    return text;
}

// The same rule OpenPort uses: a name beginning with "/" is a path, any other
// lies below the device folder.
std::string DevicePath(const std::string& devDir, const std::string& name) {
    return name.starts_with('/') ? name : devDir + "/" + name;
}

// The file a path leads to, links followed; empty when it leads nowhere.
std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

struct Port {
    std::string name;  // as listed
    std::string file;  // the device node it leads to
    bool stableName;   // one of /dev/serial/by-id
};

// Calls f with each name in the folder; false when it cannot be read.
template <typename F>
bool ForEachEntry(const std::string& dirPath, F f) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(dirPath.c_str()), ::closedir);
    if (!dir)
        return false;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            f(name);
    }
    return true;
}

}  // namespace

std::vector<std::string> EnumComPortsFrom(const std::string& ttyClassDir, const std::string& devDir,
                                          const std::string& currentPort) {
    std::vector<Port> ports;
    std::vector<std::string> deviceNumbers;  // of the listed class entries
    const bool classRead = ForEachEntry(ttyClassDir, [&](const std::string& name) {
        const std::string entry = ttyClassDir + "/" + name;
        if (!Exists(entry + "/device") || !HasHardware(entry) || !Exists(devDir + "/" + name))
            return;
        ports.push_back({name, RealPath(devDir + "/" + name), false});
        deviceNumbers.push_back(DeviceNumber(entry));
    });
    if (!classRead)
        throw EComPort(CError_RegFailed, WinErrorFromErrno(errno));
    const std::string byId = devDir + "/serial/by-id";
    ForEachEntry(byId, [&](const std::string& name) {
        const std::string file = RealPath(byId + "/" + name);
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const Port& p) {
            return !p.stableName && !file.empty() && p.file == file;
        });
        if (listed)
            ports.push_back({byId + "/" + name, file, true});
    });

    const bool named = std::any_of(ports.begin(), ports.end(), [&](const Port& p) { return p.name == currentPort; });
    if (!currentPort.empty() && !named) {
        const std::string path = DevicePath(devDir, currentPort);
        const std::string file = RealPath(path);
        auto same = std::find_if(ports.begin(), ports.end(),
                                 [&](const Port& p) { return !p.stableName && !file.empty() && p.file == file; });
        struct stat st {};
        if (same != ports.end()) {
            // The settings spell a listed device another way: list it once,
            // as they spell it, so that the dialog finds it selected.
            same->name = currentPort;
        } else if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
            const unsigned major = ::major(st.st_rdev);
            const std::string number = std::to_string(major) + ":" + std::to_string(::minor(st.st_rdev));
            const bool pty = major >= kPtySlaveMajorFirst && major <= kPtySlaveMajorLast;
            if (pty || std::find(deviceNumbers.begin(), deviceNumbers.end(), number) != deviceNumbers.end())
                ports.push_back({currentPort, file, false});
        }
    }
    std::vector<std::string> names;
    for (const Port& p : ports)
        names.push_back(p.name);
    SortPortNames(names);
    return names;
}

std::vector<std::string> EnumComPorts(const std::string& currentPort) {
    return EnumComPortsFrom("/sys/class/tty", "/dev", currentPort);
}

}  // namespace kestrel
