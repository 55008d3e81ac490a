// The serial ports Windows knows of: the values of the registry's serial-port
// map, whose data are the port names (COM1, ...).

#include "serial/PortList.h"

#include "serial/CPort.h"

#include <windows.h>

namespace kestrel {

std::vector<std::string> EnumComPorts(const std::string& /*currentPort*/) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS)
        throw EComPort(CError_RegFailed, static_cast<int>(rc));

    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD valueNameLength = sizeof valueName;  // room for 255 characters and the terminator
        BYTE data[256];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        rc = RegEnumValueA(key, index, valueName, &valueNameLength, nullptr, &type, data, &dataLength);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(key);
            throw EComPort(CError_RegFailed, static_cast<int>(rc));
        }
        // The data may or may not carry its terminator.
        std::string name(reinterpret_cast<const char*>(data), dataLength);
        if (const auto end = name.find('\0'); end != std::string::npos)
            name.resize(end);
        names.push_back(std::move(name));
    }
    RegCloseKey(key);
    SortPortNames(names);
    return names;
}

}  // namespace kestrel
