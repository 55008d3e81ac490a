#pragma once
// The serial ports the setup dialog offers. Qt-free so the core tests can call it.
// Platform implementations: PortListPosix.cpp, PortListWin32.cpp.

#include <string>
#include <vector>

namespace kestrel {

// The names OpenPort accepts, sorted case-insensitively (COM10 before COM2).
// On Windows they come from the registry's serial-port map and currentPort is
// ignored. Throws EComPort code 23 ("Registry error") when the source of the
// names cannot be read.
std::vector<std::string> EnumComPorts(const std::string& currentPort);

// Sorts names in case-insensitive text order; names that differ only in case
// keep their order.
void SortPortNames(std::vector<std::string>& names);

}  // namespace kestrel
