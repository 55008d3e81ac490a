#pragma once
// A mailbox that the test's own thread drains, standing in for the window
// layer's event loop, and bounded waits that keep draining it.

#include <chrono>
#include <functional>
#include <thread>

#include "serial/MainThreadMailbox.h"

namespace kestrel::test {

using namespace std::chrono_literals;

class TestMailbox final : public MainThreadMailbox {
protected:
    void Wake() override {}  // ServiceUntil wakes on its own
};

// Drains the mailbox until cond holds or limit passes; re-checks at least
// every millisecond for conditions no delivery signals. Returns cond().
inline bool eventually(MainThreadMailbox& mailbox, const std::function<bool()>& cond,
                       std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (mailbox.ServiceUntil(cond, 1ms)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return cond();
    }
}

// The same without a mailbox.
inline bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace kestrel::test
