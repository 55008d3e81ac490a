// The real program, sent SIGTERM before its window exists: it still shuts
// down as on a close (settings stored) and exits with 0.
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

using namespace kestrel::test;
using namespace std::chrono_literals;

TEST(StartUpSignal, ATermBeforeTheWindowExistsStillStoresTheSettings) {
    ScratchDir scratch("kestrel-signal");
    Pty pty;
    const fs::path ini = scratch / "RS232Settings.ini";
    writeFile(ini, "[CPort]\r\nPort=" + pty.PortName() + "\r\n");

    // Blocked from the child's first instruction on, the signal waits until
    // the program takes the signals over: as early as it can come, every time.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    Child decoder({KESTREL_DECODER}, scratch.path(), scratch / "decoder.out", true);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    kill(decoder.pid(), SIGTERM);

    EXPECT_TRUE(eventually([&] { return !decoder.running(); }, 15s)) << "still running";
    EXPECT_EQ(decoder.terminate(), 0) << readFile(scratch / "decoder.out");
    EXPECT_NE(readFile(ini).find("FlowControl=None\r\n"), std::string::npos) << "settings not stored";
}
