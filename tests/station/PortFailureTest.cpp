// What the operator reads when a port will not open, on each host.

#include "station/PortFailure.h"

#include "serial/CPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

namespace kestrel {
namespace {

TEST(PortFailure, OpenFailuresSayWhyInPlainWords) {
    struct Case {
        const char* port;
        int systemError;
        PortHost host;
        const char* reason;
    };
    const Case cases[] = {
        {"ttyUSB0", 2, PortHost::Posix, "/dev/ttyUSB0: no such device"},
        {"/dev/serial/by-id/usb-tnc", 2, PortHost::Posix, "/dev/serial/by-id/usb-tnc: no such device"},
        {"ttyUSB0", 5, PortHost::Posix, "/dev/ttyUSB0: permission denied (add your user to the dialout group)"},
        {"ttyUSB0", 170, PortHost::Posix, "/dev/ttyUSB0: in use by another program"},
        {"ttyS4", 1, PortHost::Posix, "/dev/ttyS4: not a serial port"},
        {"COM3", 5, PortHost::Windows, "COM3: in use by another program"},
        {"COM9", 2, PortHost::Windows, "COM9: no such device"},
        {"", 2, PortHost::Windows, "no port chosen (pick one in Settings)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortFailureReason(c.port, CError_OpenFailed, c.systemError, c.host), c.reason) << c.systemError;
}

// A number without words of its own keeps the number, with the system's words.
TEST(PortFailure, AnyOtherErrorKeepsItsNumberWithTheSystemsWords) {
    ASSERT_FALSE(PortErrorWords(1117).empty());  // ERROR_IO_DEVICE, EIO's number
    EXPECT_EQ(PortFailureReason("COM3", CError_OpenFailed, 1117, PortHost::Windows),
              "COM3: cannot be opened (error 1117: " + PortErrorWords(1117) + ")");
#ifndef _WIN32
    EXPECT_EQ(PortErrorWords(1117), "input/output error");
#endif
}

TEST(PortFailure, OtherFailuresNameTheStepThatFailed) {
    EXPECT_EQ(PortFailureReason("COM3", CError_SetStateFailed, 87, PortHost::Windows),
              "COM3: the driver refused the line settings");
    EXPECT_EQ(PortFailureReason("COM3", std::make_exception_ptr(EComPort(CError_OpenFailed, 2)), PortHost::Windows),
              "COM3: no such device");
    EXPECT_EQ(PortFailureReason("ttyS0", std::make_exception_ptr(std::runtime_error("no mailbox")), PortHost::Posix),
              "/dev/ttyS0: no mailbox");
}

}  // namespace
}  // namespace kestrel
