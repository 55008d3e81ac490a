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
// hold ends the wait at once. cond is asked by the drain alone, so a cond with
// a side effect (accepting a connection) counts the first time it holds.
inline bool eventually(MainThreadMailbox& mailbox, const std::function<bool()>& cond,
                       std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (mailbox.ServiceUntil(cond, 1ms))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return cond();
    }
}

}  // namespace kestrel::test
