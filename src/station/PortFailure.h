#pragma once
// Why a port would not open, in the operator's words: "/dev/ttyUSB0: no such
// device", "COM3: in use by another program". The designed message box stays
// as it is; this reason goes to a status panel and to standard error.

#include <exception>
#include <string>

namespace kestrel {

// The same Windows error number means different things to the operator on
// each host: "access denied" on Windows is a port another program holds, on
// Linux a device file the user may not open.
enum class PortHost { Posix, Windows };

PortHost ThisPortHost();

// The device as the operator knows it: on Linux a bare name is below /dev.
std::string PortDeviceName(const std::string& port, PortHost host = ThisPortHost());

// errorCode, systemErrorCode: those of the port's exception (EComPort).
std::string PortFailureReason(const std::string& port, int errorCode, int systemErrorCode,
                              PortHost host = ThisPortHost());

// The system's words for a port's system error number (a Windows error
// number; on Linux the errno it stands for), "" when it has none. Platform
// parts: PortFailurePosix.cpp, PortFailureWin32.cpp.
std::string PortErrorWords(int systemErrorCode);

// The reason for the exception in flight (an EComPort or anything else).
std::string PortFailureReason(const std::string& port, std::exception_ptr failure, PortHost host = ThisPortHost());

}  // namespace kestrel
