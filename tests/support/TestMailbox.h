#pragma once
// A mailbox that the test's own thread drains, standing in for the window
// layer's event loop, and a bounded wait that keeps draining it.

#include "serial/MainThreadMailbox.h"
#include "support/Eventually.h"

namespace kestrel::test {

class TestMailbox final : public MainThreadMailbox {
protected:
    void Wake() override {}  // ServiceUntil wakes on its own
};

// eventually() with the mailbox drained meanwhile: a delivery that makes cond
// hold ends the wait at once.
inline bool eventually(MainThreadMailbox& mailbox, const std::function<bool()>& cond,
                       std::chrono::milliseconds limit = 5s) {
    return eventually(cond, limit, [&] { mailbox.ServiceUntil(cond, 1ms); });
}

}  // namespace kestrel::test
