// The port engine on a real line: transfers, timeouts, event delivery through
// the main-thread mailbox, closing while a delivery is pending, hang-up.
//
// In order: transfers and time-outs; events delivered through the mailbox;
// opening and operating a closed or missing port; purge; closing while a
// delivery is pending; a handler's escaping error; the sync methods; hang-up;
// destruction.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "ComPortError.h"
#include "support/PortOnTestLine.h"
#include "serial/HandlerExceptions.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::processCpuSeconds;
using Clock = std::chrono::steady_clock;

using test::comPortError;

std::string allByteValues() {
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

// The main window's port on one end of a line, the test on the other.
class PortTest : public test::PortOnTestLine {
protected:
    void SetUp() override {
        PortOnTestLine::SetUp();
        port.Timeouts().SetWriteTotalMultiplier(1000);
    }
    void TearDown() override { SetExceptionReportHandler(nullptr); }
    bool waiting(int32_t n) {
        return eventually(mailbox, [&] { return port.BytesWaiting() >= n; });
    }
};

TEST_F(PortTest, BytesTravelBothWaysUnchanged) {
    port.OpenPort();
    ASSERT_TRUE(port.Connected());
    const std::string bytes = allByteValues() + std::string(3, '\0') + allByteValues();

    EXPECT_EQ(port.WriteText(bytes), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(line.Receive(bytes.size(), 2000ms), bytes);

    line.Send(bytes);
    ASSERT_TRUE(waiting(static_cast<int32_t>(bytes.size())));
    std::string text;
    EXPECT_EQ(port.ReadBytes(text, static_cast<int32_t>(bytes.size())), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(text, bytes);
}

TEST_F(PortTest, OneByteAndEmptyWrites) {
    port.OpenPort();
    EXPECT_EQ(port.WriteText(""), 0);
    EXPECT_EQ(port.WriteText(std::string(1, '\x7e')), 1);
    EXPECT_EQ(line.Receive(2, 300ms), "\x7e");
}

TEST_F(PortTest, ShortReadEndsAtTheGapAndShortensTheText) {
    port.OpenPort();
    line.Send("abc");
    ASSERT_TRUE(waiting(3));
    std::string text = "previous content";
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadBytes(text, 10), 3);
    const auto took = Clock::now() - start;
    EXPECT_EQ(text, "abc");
    EXPECT_GE(took, 90ms);    // waited for the 100 ms gap
    EXPECT_LT(took, 1100ms);  // within 100 * 10 + 100
}

TEST_F(PortTest, ReadWithNothingArrivingGivesUpAfterTheTotalTimeout) {
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalMultiplier(10);
    port.Timeouts().SetReadTotalConstant(50);
    port.OpenPort();
    std::string text;
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadBytes(text, 5), 0);
    const auto took = Clock::now() - start;
    EXPECT_TRUE(text.empty());
    EXPECT_GE(took, 95ms);
    EXPECT_LT(took, 2000ms);
}

TEST_F(PortTest, ImmediateReadReturnsWhatIsThere) {
#ifdef _WIN32
    if (test::RunningUnderWine())
        GTEST_SKIP() << "Wine leaves an overlapped read with ReadInterval MAXDWORD pending; Windows returns at once";
#endif
    port.Timeouts().SetReadInterval(-1);
    port.Timeouts().SetReadTotalMultiplier(0);
    port.Timeouts().SetReadTotalConstant(0);
    port.OpenPort();
    std::string text;
    EXPECT_EQ(port.ReadBytes(text, 4), 0);
    line.Send("xy");
    ASSERT_TRUE(waiting(2));
    EXPECT_EQ(port.ReadBytes(text, 4), 2);
    EXPECT_EQ(text, "xy");
    EXPECT_EQ(port.ReadBytes(text, 0), 0);
    EXPECT_TRUE(text.empty());
}

TEST_F(PortTest, AWriteCutShortByItsTimeoutReturnsTheSmallerCount) {
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(100);
    port.OpenPort();
    const std::string lots(4 << 20, 'w');  // far more than the line buffers while nobody reads
    const auto start = Clock::now();
    const int32_t written = port.WriteText(lots);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int32_t>(lots.size()));
    EXPECT_LT(Clock::now() - start, 2000ms);
}

TEST_F(PortTest, InputQueueEightyPercentFull) {
#ifdef _WIN32
    if (test::RunningUnderWine())
        GTEST_SKIP() << "Wine's serial driver never signals EV_RX80FULL; Windows does";
#endif
    std::atomic<int> full{0};
    port.Buffer().SetInputSize(100);
    port.OnRx80Full = [&](TCustomComPort&) { ++full; };
    port.OpenPort();
    line.Send(std::string(50, 'a'));
    ASSERT_TRUE(waiting(50));
    EXPECT_EQ(full, 0);
    line.Send(std::string(40, 'b'));
    EXPECT_TRUE(eventually(mailbox, [&] { return full > 0; }));
}

TEST_F(PortTest, RxCharReachesTheHandlerOnTheMailboxThreadWithTheWaitingCount) {
    std::vector<int32_t> counts;
    std::thread::id handlerThread;
    int32_t waitingInHandler = -1;
    std::string received;
    port.OnRxChar = [&](TCustomComPort& sender, int32_t count) {
        EXPECT_EQ(&sender, &port);
        counts.push_back(count);
        handlerThread = std::this_thread::get_id();
        waitingInHandler = port.BytesWaiting();
        std::string part;
        port.ReadBytes(part, count);
        received += part;
    };
    port.OpenPort();
    EXPECT_TRUE(port.EventThreadRunning());
    line.Send("hello");
    ASSERT_TRUE(eventually(mailbox, [&] { return received.size() >= 5; }));
    EXPECT_EQ(received, "hello");
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0], 5);
    EXPECT_EQ(waitingInHandler, 5);
    line.Send("!");
    ASSERT_TRUE(eventually(mailbox, [&] { return received.size() >= 6; }));
    EXPECT_EQ(received, "hello!");
}

TEST_F(PortTest, RxCharForBytesAlreadyTakenDoesNotCallTheHandler) {
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort&, int32_t) { ++calls; };
    port.OpenPort();
    line.Send("gone");
    // The event thread now waits in the mailbox; take the bytes first.
    ASSERT_TRUE(test::eventually([&] { return mailbox.Pending() > 0; }));
    ASSERT_TRUE(eventually([&] { return port.BytesWaiting() == 4; }));
    std::string text;
    EXPECT_EQ(port.ReadBytes(text, 4), 4);
    mailbox.ServicePending();
    EXPECT_EQ(calls, 0);
}

TEST_F(PortTest, UnreadBytesDoNotRaiseEventsOverAndOver) {
    std::vector<int32_t> counts;
    port.OnRxChar = [&](TCustomComPort&, int32_t count) { counts.push_back(count); };  // reads nothing
    port.OpenPort();
    line.Send("a");
    ASSERT_TRUE(eventually(mailbox, [&] { return !counts.empty(); }));
    EXPECT_FALSE(eventually(
        mailbox, [&] { return counts.size() > 1; }, 300ms));
    line.Send("b");  // new bytes on top of the unread one still count
    ASSERT_TRUE(eventually(mailbox, [&] { return counts.size() > 1; }));
    EXPECT_EQ(counts, (std::vector<int32_t>{1, 2}));
}

TEST_F(PortTest, UnreadBytesDoNotKeepAThreadBusyThatIgnoresThem) {
    std::atomic<int> empties{0};
    port.SetEvents({evTxEmpty});
    port.OnTxEmpty = [&](TCustomComPort&) { ++empties; };
    port.OpenPort();
    line.Send("unwatched");
    ASSERT_TRUE(eventually([&] { return port.BytesWaiting() == 9; }));
    const double cpuBefore = processCpuSeconds();
    EXPECT_FALSE(eventually(
        mailbox, [&] { return empties > 0; }, 300ms));
    EXPECT_LT(processCpuSeconds() - cpuBefore, 0.15);
    port.WriteText("!");  // the thread still answers
    EXPECT_TRUE(eventually(mailbox, [&] { return empties > 0; }));
}

TEST_F(PortTest, TxEmptyFollowsAWrite) {
    std::atomic<int> empties{0};
    port.OnTxEmpty = [&](TCustomComPort&) { ++empties; };
    port.OpenPort();
    port.WriteText("ping");
    EXPECT_TRUE(eventually(mailbox, [&] { return empties > 0; }));
    EXPECT_EQ(line.Receive(4, 1000ms), "ping");
}

TEST_F(PortTest, NoEventsMeansNoThreadAndNoRxChar) {
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort&, int32_t) { ++calls; };
    port.SetEvents({});
    port.SetMailbox(nullptr);  // none needed without events
    port.OpenPort();
    EXPECT_TRUE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    line.Send("quiet");
    ASSERT_TRUE(eventually([&] { return port.BytesWaiting() == 5; }));
    mailbox.ServicePending();
    EXPECT_EQ(calls, 0);
    std::string text;
    EXPECT_EQ(port.ReadBytes(text, 5), 5);
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortTest, AMissingPortFailsWithCode1AndStaysClosed) {
    port.SetPort("kestrel-no-such-port");
    EComPort e = comPortError([&] { port.OpenPort(); });
    EXPECT_EQ(e.ErrorCode, CError_OpenFailed);
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
    EXPECT_FALSE(port.Connected());
    port.SetPort("");
    EXPECT_EQ(comPortError([&] { port.OpenPort(); }).ErrorCode, CError_OpenFailed);
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortTest, OperationsOnAClosedPortFailWithTheirOwnCodes) {
    auto checkClosed = [&] {
        std::string text = "x";
        EXPECT_EQ(comPortError([&] { port.BytesWaiting(); }).ErrorCode, CError_ClearComFailed);
        EXPECT_EQ(comPortError([&] { port.ReadBytes(text, 5); }).ErrorCode, CError_ReadFailed);
        EXPECT_EQ(comPortError([&] { port.WriteText("x"); }).ErrorCode, CError_WriteFailed);
        EXPECT_EQ(comPortError([&] { port.PurgeBuffers(true, true); }).ErrorCode, CError_PurgeFailed);
        EXPECT_EQ(comPortError([&] { port.PurgeBuffers(false, false); }).ErrorCode, CError_PurgeFailed);
        EXPECT_EQ(comPortError([&] { port.ModemSignals(); }).ErrorCode, CError_ModemStatFailed);
        EXPECT_EQ(std::string(comPortError([&] { port.BytesWaiting(); }).what())
                      .rfind("ClearCommError function failed (win error code: ", 0),
                  0u);
        EXPECT_EQ(port.ReadBytes(text, 0), 0);
        EXPECT_EQ(port.WriteText(""), 0);
    };
    checkClosed();
    port.OpenPort();
    port.ClosePort();
    port.ClosePort();  // closed already: nothing
    checkClosed();
}

TEST_F(PortTest, PurgeDiscardsWaitingInput) {
    port.SetEvents({});
    port.OpenPort();
    line.Send("stale");
    ASSERT_TRUE(eventually([&] { return port.BytesWaiting() == 5; }));
    port.PurgeBuffers(true, true);
    EXPECT_EQ(port.BytesWaiting(), 0);
}

TEST_F(PortTest, CloseWhileTheThreadIsBlockedDeliveringCompletes) {
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort&, int32_t) { ++calls; };
    port.OpenPort();
    line.Send("pending");
    ASSERT_TRUE(test::eventually([&] { return mailbox.Pending() > 0; }));
    port.ClosePort();  // must take the delivery itself to let the thread go
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(mailbox.Pending(), 0u);
    // Whether the handler still saw the bytes depends on whether the thread's
    // own discard on its way out came first; at most once either way.
    EXPECT_LE(calls, 1);
}

TEST_F(PortTest, AnEscapingHandlerErrorGoesToTheReportAndDeliveryGoesOn) {
    std::mutex m;
    std::vector<std::string> reports;
    SetExceptionReportHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            std::lock_guard lock(m);
            reports.push_back(x.what());
        }
    });
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort&, int32_t count) {
        ++calls;
        std::string text;
        port.ReadBytes(text, count);
        if (calls == 1)
            throw std::runtime_error("handler failed");
    };
    port.OpenPort();
    line.Send("1");
    ASSERT_TRUE(eventually(mailbox, [&] { return calls == 1; }));
    line.Send("2");
    ASSERT_TRUE(eventually(mailbox, [&] { return calls == 2; }));
    std::lock_guard lock(m);
    EXPECT_EQ(reports, (std::vector<std::string>{"handler failed"}));
}

TEST_F(PortTest, ThreadSyncRunsOnTheMainThreadAndNoneOnTheEventThread) {
    for (TSyncMethod method : {smThreadSync, smNone}) {
        std::mutex m;
        std::thread::id where;
        std::atomic<bool> called{false};
        port.SetSyncMethod(method);
        port.OnRxChar = [&](TCustomComPort&, int32_t count) {
            std::string text;
            port.ReadBytes(text, count);
            std::lock_guard lock(m);
            where = std::this_thread::get_id();
            called = true;
        };
        port.OpenPort();
        line.Send("z");
        ASSERT_TRUE(eventually(mailbox, [&] { return called.load(); }));
        port.ClosePort();
        std::lock_guard lock(m);
        if (method == smThreadSync)
            EXPECT_EQ(where, std::this_thread::get_id());
        else
            EXPECT_NE(where, std::this_thread::get_id());
    }
}

TEST_F(PortTest, HangUpStopsTheThreadWithoutSpinningAndTheNextOpenWorks) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows test line is two wired COM ports, which cannot hang up";
#endif
    port.OnRxChar = [&](TCustomComPort&, int32_t count) {
        std::string text;
        port.ReadBytes(text, count);
    };
    port.OpenPort();
    ASSERT_TRUE(port.EventThreadActive());
    const double cpuBefore = processCpuSeconds();
    line.HangUp();
    ASSERT_TRUE(eventually(mailbox, [&] { return !port.EventThreadActive(); }));
    EXPECT_LT(processCpuSeconds() - cpuBefore, 0.5);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(comPortError([&] { port.BytesWaiting(); }).ErrorCode, CError_ClearComFailed);
    std::string text;
    EXPECT_EQ(comPortError([&] { port.ReadBytes(text, 1); }).ErrorCode, CError_ReadFailed);
    EXPECT_EQ(comPortError([&] { port.WriteText("x"); }).ErrorCode, CError_WriteFailed);
    port.ClosePort();
    EXPECT_FALSE(port.Connected());

    test::TestLine next;
    port.SetPort(next.PortName());
    port.OpenPort();
    next.Send("back");
    ASSERT_TRUE(eventually([&] { return port.BytesWaiting() == 4; }));
    EXPECT_EQ(port.ReadBytes(text, 4), 4);
    EXPECT_EQ(text, "back");
    port.ClosePort();
}

TEST_F(PortTest, DestroyingAnOpenPortClosesIt) {
    auto other = std::make_unique<TComPort>();
    other->SetPort(line.PortName());
    other->SetMailbox(&mailbox);
    other->SetSyncMethod(smWindowSync);
    other->OpenPort();
    line.Send("x");
    ASSERT_TRUE(test::eventually([&] { return mailbox.Pending() > 0; }));
    other.reset();    // a delivery is pending: the close takes it
    port.OpenPort();  // the line is free again
    EXPECT_TRUE(port.Connected());
}

}  // namespace
}  // namespace kestrel
