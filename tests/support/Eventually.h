#pragma once
// A bounded wait: cond is checked until it holds or limit passes, with pump run
// in between (by default a 1 ms sleep; a mailbox drain or the Qt event loop
// where deliveries must go on meanwhile). Returns whether cond came to hold.

#include <chrono>
#include <functional>
#include <thread>

namespace kestrel::test {

using namespace std::chrono_literals;

inline bool eventually(
    const std::function<bool()>& cond, std::chrono::milliseconds limit = 5s,
    const std::function<void()>& pump = [] { std::this_thread::sleep_for(1ms); }) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        pump();
    }
    return true;
}

}  // namespace kestrel::test
