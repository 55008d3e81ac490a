#pragma once
// The Linux port list read from given folders, so tests can lay out their own.

#include "serial/PortList.h"

namespace kestrel {

// The ports below a tty class folder (normally /sys/class/tty) and a device
// folder (normally /dev, whose serial/by-id names are listed too), with
// currentPort as for EnumComPorts.
std::vector<std::string> EnumComPortsFrom(const std::string& ttyClassDir, const std::string& devDir,
                                          const std::string& currentPort);

}  // namespace kestrel
