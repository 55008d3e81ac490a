#pragma once
// A port set up like the main window's, on one end of the test line, with the
// test on the other; skips where the line is unavailable.

#include <gtest/gtest.h>

#include "support/TestLine.h"
#include "support/TestMailbox.h"
#include "serial/CPort.h"

namespace kestrel::test {

class PortOnTestLine : public ::testing::Test {
protected:
    TestLine line;
    TestMailbox mailbox;
    TComPort port;

    void SetUp() override {
        if (const std::string why = TestLineUnavailable(line); !why.empty())
            GTEST_SKIP() << why;
        port.SetPort(line.PortName());
        port.SetSyncMethod(smWindowSync);
        port.SetMailbox(&mailbox);
        port.Timeouts().SetReadInterval(100);
        port.Timeouts().SetReadTotalMultiplier(100);
        port.Timeouts().SetReadTotalConstant(100);
    }
};

}  // namespace kestrel::test
