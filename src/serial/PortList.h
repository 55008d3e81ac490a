#pragma once
// The serial ports the setup dialog offers, as names OpenPort accepts, sorted
// without regard to letter case (COM10 before COM2). Raises EComPort code 23
// ("Registry error") when the system's list cannot be read at all.
// Platform implementations: PortListPosix.cpp, PortListWin32.cpp.

#include <string>
#include <vector>

namespace kestrel {

// currentPort: the port now set. On POSIX it joins the list when it names a
// terminal device (so a pseudo-terminal from the settings file stays
// selectable), and stands in for the listed name of the same device when it
// spells it another way ("/dev/ttyUSB0" for "ttyUSB0"). No device is opened.
std::vector<std::string> EnumComPorts(const std::string& currentPort);

// The dialog's order: case-insensitive (ASCII letters), stable.
void SortPortNames(std::vector<std::string>& names);

}  // namespace kestrel
