// The order of the port list, and the POSIX list from a fake sysfs and /dev.

#include <gtest/gtest.h>

#include "serial/PortList.h"

#ifndef _WIN32
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

#include "serial/PortListPosix.h"

#include "support/Files.h"
#include "support/Pty.h"
#endif

namespace kestrel {
namespace {

TEST(PortListOrder, IgnoresCaseSortsTextNotNumbersAndKeepsEqualNamesInOrder) {
    std::vector<std::string> names{"COM2", "com10", "ttyUSB0", "COM1", "COM10", "COM3", "Com1"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "Com1", "com10", "COM10", "COM2", "COM3", "ttyUSB0"}));
}

TEST(PortListOrder, BytesAboveAsciiSortAfterLetters) {
    std::vector<std::string> names{"\xC4port", "zport", "Aport"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Aport", "zport", "\xC4port"}));
}

#ifndef _WIN32
namespace fs = std::filesystem;

class PortListPosix : public ::testing::Test {
protected:
    test::ScratchDir dir;
    std::string sys = (dir / "class").string(), dev = (dir / "dev").string();
    void SetUp() override {
        fs::create_directories(dev);
        for (const char* name : {"ttyUSB0", "ttyS1"}) {
            fs::create_directories(sys + "/" + name + "/device");
            test::writeFile(dev + "/" + name, "");
        }
        test::writeFile(sys + "/ttyS1/type", "0\n");  // registered, no hardware
        fs::create_directories(dev + "/serial/by-id");
        fs::create_symlink("../../ttyUSB0", dev + "/serial/by-id/usb-TNC-if00");
        fs::create_symlink("../../ttyS1", dev + "/serial/by-id/platform-none");
    }
    std::vector<std::string> list(const std::string& current) { return EnumComPortsFrom(sys, dev, current); }
};

TEST_F(PortListPosix, EachDeviceOnceWhateverTheSpellingAndItsStableNames) {
    test::Pty pty;  // a real terminal behind a class entry of its own
    fs::create_directories(sys + "/ttyACM0/device");
    fs::create_symlink(pty.PortName(), dev + "/ttyACM0");
    const std::string stable = dev + "/serial/by-id/usb-TNC-if00";
    EXPECT_EQ(list(""), (std::vector<std::string>{stable, "ttyACM0", "ttyUSB0"}));
    EXPECT_EQ(list(pty.PortName()), (std::vector<std::string>{pty.PortName(), stable, "ttyUSB0"}));
    EXPECT_EQ(list(dev + "/ttyUSB0"), (std::vector<std::string>{stable, dev + "/ttyUSB0", "ttyACM0"}));
    EXPECT_EQ(list(stable), (std::vector<std::string>{stable, "ttyACM0", "ttyUSB0"}));
}

TEST_F(PortListPosix, APseudoTerminalSetAsThePortIsListedWithoutBeingOpened) {
    test::Pty pty;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, pty.PortName().c_str(), IN_OPEN), 0);
    const auto names = list(pty.PortName());
    char events[256];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the port was opened";
    ::close(watch);
    EXPECT_EQ(names, (std::vector<std::string>{pty.PortName(), dev + "/serial/by-id/usb-TNC-if00", "ttyUSB0"}));
}
#endif

}  // namespace
}  // namespace kestrel
