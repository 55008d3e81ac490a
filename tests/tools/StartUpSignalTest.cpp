// The real program sent SIGTERM at awkward moments: it still shuts down as on
// a close (settings stored) and exits with 0.
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/Pty.h"
#include "telemetry/BeaconFrame.h"

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

// A SIGTERM that comes while one report is up and another waits behind it:
// the box goes, the waiting one never opens (standard error has it when it
// was raised, and once more as not shown), and shut-down runs as on any close.
TEST(StartUpSignal, ATermWithTwoReportsQueuedShutsDownAndOpensNoFurtherBox) {
    ScratchDir scratch("kestrel-signal");
    Pty pty;
    const fs::path ini = scratch / "RS232Settings.ini";
    writeFile(ini, "[CPort]\r\nPort=" + pty.PortName() + "\r\n");
    // Files where the RawByteLog's and the BeaconTextLog's folders must go:
    // the first byte and the first beacon each raise a report of their own.
    fs::create_directories(scratch / "Telemetry");
    writeFile(scratch / "Telemetry" / "raw_log", "not a folder");
    writeFile(scratch / "Telemetry" / "Decoded", "not a folder");
    Child decoder({KESTREL_DECODER}, scratch.path(), scratch / "decoder.out", true);

    // Each failure is written down as it happens, before its box shows.
    // (The line a report that never opened gets at the close is not counted.)
    const auto reportsWritten = [&] {
        const std::string out = readFile(scratch / "decoder.out");
        return countOf(out, " not written: I/O error") - countOf(out, "(closing, not shown) ");
    };
    ASSERT_TRUE(eventually(
        [&] {
            pty.Send(kestrel::buildBeaconFrame(135, kestrel::BeaconRecord{}));
            return reportsWritten() >= 2 || !decoder.running();
        },
        15s))
        << "no report raised";
    ASSERT_TRUE(decoder.running()) << readFile(scratch / "decoder.out");
    EXPECT_TRUE(eventually([&] { return reportsWritten() == 2; }, 15s)) << "both written down when raised";

    EXPECT_EQ(decoder.terminate(), 0) << readFile(scratch / "decoder.out");
    EXPECT_NE(readFile(ini).find("FlowControl=None\r\n"), std::string::npos) << "settings not stored";
    EXPECT_EQ(reportsWritten(), 2u) << readFile(scratch / "decoder.out");
    // The first one's box was up; the second never opened, not even after the close.
    EXPECT_EQ(countOf(readFile(scratch / "decoder.out"), "kestrel-decoder: (closing, not shown) "), 1u)
        << "the report that never opened is not lost";
}
