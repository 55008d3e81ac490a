// The real program, sent SIGTERM before its window exists: it still shuts
// down as on a close (settings stored) and exits with 0.
#include "ToolTestSupport.h"

#include <gtest/gtest.h>

#include <pty.h>

using namespace kestrel::test;
using namespace std::chrono_literals;

TEST(StartUpSignal, ATermBeforeTheWindowExistsStillStoresTheSettings) {
    Scratch scratch("kestrel-signal");
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const fs::path ini = scratch.dir / "RS232Settings.ini";
    std::ofstream(ini, std::ios::binary) << "[CPort]\r\nPort=" << name << "\r\n";

    // Blocked from the child's first instruction on, the signal waits until
    // the program takes the signals over: as early as it can come, every time.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    Child decoder({KESTREL_DECODER}, scratch.dir, scratch.dir / "decoder.out", true);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    kill(decoder.pid(), SIGTERM);

    EXPECT_TRUE(waitFor([&] { return !decoder.running(); }, 15s)) << "still running";
    EXPECT_EQ(decoder.terminate(), 0) << readFile(scratch.dir / "decoder.out");
    EXPECT_NE(readFile(ini).find("FlowControl=None\r\n"), std::string::npos) << "settings not stored";
    close(master);
    close(slave);
}
