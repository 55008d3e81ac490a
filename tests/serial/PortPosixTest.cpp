// What the line settings become on a Linux tty, port names, exclusive use.

#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include "support/Pty.h"
#include "serial/CPort.h"

namespace kestrel {
namespace {

// The kernel's termios2 (any rate), declared here because its header clashes
// with <termios.h>, which the pseudo-terminal needs.
struct termios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

termios2 lineSettings(int fd) {
    termios2 t{};
    EXPECT_EQ(::ioctl(fd, _IOR('T', 0x2A, termios2), &t), 0);
    return t;
}

class PortPosixTest : public ::testing::Test {
protected:
    test::Pty line;
    TComPort port;
    void SetUp() override {
        port.SetPort(line.PortName());
        port.SetEvents({});
    }
};

TEST_F(PortPosixTest, RawModeWithTheRequestedFrame) {
    port.OpenPort();
    termios2 t = lineSettings(line.PortSide());
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_ospeed, 9600u);

    port.BeginSettingsUpdate();
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbOne5StopBits);
    port.Parity().SetBits(prMark);
    port.FlowControl().SetFlowControl(fcHardware);
    port.EndSettingsUpdate();
    t = lineSettings(line.PortSide());
    // A pseudo-terminal keeps everything but the character size and the
    // parity enable, which it forces to 8 bits without parity.
    EXPECT_EQ(t.c_ospeed, 31250u);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // 1.5 becomes 2
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

    port.Parity().SetBits(prSpace);
    port.FlowControl().SetFlowControl(fcSoftware);
    port.FlowControl().SetXonChar('A');
    t = lineSettings(line.PortSide());
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(CMSPAR));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 'A');
}

TEST_F(PortPosixTest, AnUnusableRateIsRefusedWithCode7) {
    port.OpenPort();
    port.SetBaudRate(brCustom);
    try {
        port.SetCustomBaudRate(0);
        FAIL() << "a zero rate was accepted";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, CError_SetStateFailed);
    }
}

TEST_F(PortPosixTest, NamesWithoutASlashAreLookedUpBelowDev) {
    const std::string relative = line.PortName().substr(std::string("/dev/").size());
    port.SetPort(relative);
    port.OpenPort();
    EXPECT_TRUE(port.Connected());
    port.ClosePort();
    port.SetPort("COM4");
    EXPECT_THROW(port.OpenPort(), EComPort);
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortPosixTest, SomethingThatIsNoTerminalIsNoPort) {
    port.SetPort("/dev/null");
    try {
        port.OpenPort();
        FAIL() << "/dev/null was opened";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, CError_OpenFailed);
        EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 1)");  // as Windows says for it
    }
}

TEST_F(PortPosixTest, APortIsUsedByOneComponentAtATime) {
    port.OpenPort();
    TComPort second;
    second.SetEvents({});
    second.SetPort(line.PortName());
    EXPECT_THROW(second.OpenPort(), EComPort);
    port.ClosePort();
    second.OpenPort();
    EXPECT_TRUE(second.Connected());
}

TEST_F(PortPosixTest, APseudoTerminalReadsAsAllModemLinesOff) {
    port.OpenPort();
    EXPECT_EQ(port.ModemSignals(), 0u);
}

}  // namespace
}  // namespace kestrel
