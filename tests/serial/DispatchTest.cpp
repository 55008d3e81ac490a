// The per-event actions of one wake-up that carries every event, in the fixed
// order, as the main thread sees them.

#include <gtest/gtest.h>

#include "support/FakeComDevice.h"
#include "support/TestMailbox.h"
#include "serial/CPort.h"
#include "serial/HandlerExceptions.h"

#include <stdexcept>
#include <thread>

namespace kestrel {
namespace {

using test::FakeComDevice;
using test::FakeDeviceLog;

class DispatchTest : public ::testing::TestWithParam<TSyncMethod> {
protected:
    FakeDeviceLog log;
    test::TestMailbox mailbox;
    std::vector<std::string> seen;

    void record(TComPort& port) {
        port.OnError = [&](TCustomComPort&, TComErrors e) {
            seen.push_back(e == TComErrors{ceFrame, ceOverrun} ? "Error" : "Error?");
        };
        port.OnRxChar = [&](TCustomComPort&, int32_t n) { seen.push_back("RxChar " + std::to_string(n)); };
        port.OnTxEmpty = [&](TCustomComPort&) { seen.push_back("TxEmpty"); };
        port.OnBreak = [&](TCustomComPort&) { seen.push_back("Break"); };
        port.OnRing = [&](TCustomComPort&) { seen.push_back("Ring"); };
        port.OnCTSChange = [&](TCustomComPort&, bool on) { seen.push_back(on ? "CTS on" : "CTS off"); };
        port.OnDSRChange = [&](TCustomComPort&, bool on) { seen.push_back(on ? "DSR on" : "DSR off"); };
        port.OnRxFlag = [&](TCustomComPort&) { seen.push_back("RxFlag"); };
        port.OnRLSDChange = [&](TCustomComPort&, bool on) { seen.push_back(on ? "RLSD on" : "RLSD off"); };
        port.OnRx80Full = [&](TCustomComPort&) { seen.push_back("Rx80Full"); };
        port.OnAfterOpen = [&](TCustomComPort&) { seen.push_back("AfterOpen"); };
        port.OnBeforeClose = [&](TCustomComPort&) { seen.push_back("BeforeClose"); };
        port.OnAfterClose = [&](TCustomComPort&) { seen.push_back("AfterClose"); };
    }
};

TEST_P(DispatchTest, EveryEventOfOneWakeUpInTheFixedOrder) {
    log.scriptedEvents = true;
    log.wakeUps = {0x05FF};
    log.inQueue = 3;
    log.lineErrors = kCeFrame | kCeOverrun;
    log.modemStatus = kMsCtsOn | kMsRlsdOn;
    TComPort port{std::make_unique<FakeComDevice>(log)};
    port.SetSyncMethod(GetParam());
    port.SetMailbox(&mailbox);
    record(port);
    port.OpenPort();
    ASSERT_TRUE(test::eventually(mailbox, [&] { return seen.size() >= 14; }));
    port.ClosePort();
    EXPECT_EQ(seen, (std::vector<std::string>{"AfterOpen", "CTS on", "DSR off", "RLSD on",  // the open's own read
                                              "Error", "RxChar 3", "TxEmpty", "Break", "Ring", "CTS on", "DSR off",
                                              "RxFlag", "RLSD on", "Rx80Full", "CTS off", "DSR off", "RLSD off",
                                              "BeforeClose", "AfterClose"}));
    EXPECT_EQ(log.count("SetEventMask"), 2);  // the mask at creation, 0 on the way out
    EXPECT_EQ(log.count("Purge 12"), 1);      // the thread's own discard
}

TEST_P(DispatchTest, NothingWaitingAndNoErrorsCallNoHandler) {
    log.scriptedEvents = true;
    log.wakeUps = {kEvRxChar | kEvErr, kEvTxEmpty};
    TComPort port{std::make_unique<FakeComDevice>(log)};
    port.SetSyncMethod(GetParam());
    port.SetMailbox(&mailbox);
    record(port);
    port.OnAfterOpen = nullptr;
    port.OnCTSChange = port.OnDSRChange = port.OnRLSDChange = nullptr;
    port.OpenPort();
    ASSERT_TRUE(test::eventually(mailbox, [&] { return !seen.empty(); }));
    port.ClosePort();
    EXPECT_EQ(seen, (std::vector<std::string>{"TxEmpty", "BeforeClose", "AfterClose"}));
}

INSTANTIATE_TEST_SUITE_P(MainThreadDelivery, DispatchTest, ::testing::Values(smWindowSync, smThreadSync));

TEST(DispatchWithoutMailbox, WindowSyncWithoutAMailboxRefusesToOpen) {
    FakeDeviceLog log;
    log.scriptedEvents = true;
    TComPort port{std::make_unique<FakeComDevice>(log)};
    port.SetSyncMethod(smWindowSync);
    ASSERT_EQ(ApplicationMailbox(), nullptr);
    EXPECT_THROW(port.OpenPort(), std::logic_error);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log.count("Open"), 0);
}

TEST(ReportOffTheMainThread, GoesToTheMainThreadThroughTheMailboxOrElseToStandardError) {
    std::vector<std::thread::id> reportedOn;
    SetExceptionReportHandler([&](std::exception_ptr) { reportedOn.push_back(std::this_thread::get_id()); });
    auto reportFromAnotherThread = [] {
        std::thread([] { ReportException(std::make_exception_ptr(std::runtime_error("event thread"))); }).join();
    };
    test::TestMailbox mailbox;
    SetApplicationMailbox(&mailbox);
    reportFromAnotherThread();
    EXPECT_TRUE(reportedOn.empty());
    EXPECT_EQ(mailbox.ServicePending(), 1);
    EXPECT_EQ(reportedOn, std::vector<std::thread::id>{std::this_thread::get_id()});
    SetApplicationMailbox(nullptr);

    ::testing::internal::CaptureStderr();
    reportFromAnotherThread();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "event thread\n");
    EXPECT_EQ(reportedOn.size(), 1u);
    SetExceptionReportHandler(nullptr);
}

}  // namespace
}  // namespace kestrel
