#pragma once
// The serial ports the setup dialog offers, as names OpenPort accepts, sorted
// without regard to letter case (COM10 before COM2). Raises EComPort code 23
// ("Registry error") when the system's list cannot be read at all.
// Platform implementations: PortListPosix.cpp, PortListWin32.cpp.

#include <string>
#include <vector>

namespace kestrel {

// currentPort: the port now set. On POSIX it joins the list when it names an
// existing terminal device (so a pseudo-terminal from the settings file stays
// selectable).
std::vector<std::string> EnumComPorts(const std::string& currentPort);

// The dialog's order: case-insensitive (ASCII letters), stable.
void SortPortNames(std::vector<std::string>& names);

#ifndef _WIN32
// The POSIX source below a given class folder (normally /sys/class/tty) and a
// device folder (normally /dev); for tests.
std::vector<std::string> EnumComPortsFrom(const std::string& ttyClassDir, const std::string& devDir,
                                          const std::string& currentPort);
#endif

}  // namespace kestrel
