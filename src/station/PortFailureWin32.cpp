// A port's system error in the system's words, on Windows (see PortFailure.h).

#include "station/PortFailure.h"

#include "Utf16Win32.h"

namespace kestrel {

PortHost ThisPortHost() { return PortHost::Windows; }

std::string PortErrorWords(int systemErrorCode) { return windowsMessage(static_cast<DWORD>(systemErrorCode)); }

}  // namespace kestrel
