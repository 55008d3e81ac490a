#pragma once
// A device that records what the engine asks of it and fails on request, for
// tests of the engine's own decisions (order of steps, codes, what is applied).

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serial/ComDevice.h"

namespace kestrel::test {

struct FakeDeviceLog {
    std::vector<std::string> calls;       // "Open COM4", "SetupBuffers", "SetLineState", ...
    std::map<std::string, int> failures;  // call name -> error to return
    ComLineState lastLine;
    ComTimeoutValues lastTimeouts;
    uint32_t lastBuffersIn = 0, lastBuffersOut = 0;
    uint32_t modemStatus = 0;
    uint32_t inQueue = 0;  // what ClearError reports besides rx
    std::string rx;        // received bytes waiting to be read
    std::string written;   // everything written to the line
    uint32_t lineErrors = 0;
    // Masks the event wait hands out, one per wake-up (kHangUp: the device
    // hangs up there); afterwards it waits for its stop signal. Without
    // scriptedEvents, CreateEventWaiter fails.
    std::deque<uint32_t> wakeUps;
    bool scriptedEvents = false;
    int count(const std::string& name) const {
        int n = 0;
        for (const auto& c : calls)
            if (c.rfind(name, 0) == 0)
                ++n;
        return n;
    }
};

inline constexpr uint32_t kHangUp = 0xFFFFFFFFu;

class FakeComDevice final : public ComDevice {
public:
    explicit FakeComDevice(FakeDeviceLog& log) : log_(log) {}

    int Open(const std::string& name) override {
        if (int e = call("Open " + name, "Open"))
            return e;
        open_ = true;
        return 0;
    }
    void Close() override {
        log_.calls.push_back("Close");
        open_ = false;
    }
    bool IsOpen() const override { return open_; }
    int SetupBuffers(uint32_t in, uint32_t out) override {
        log_.lastBuffersIn = in;
        log_.lastBuffersOut = out;
        return call("SetupBuffers");
    }
    int SetLineState(const ComLineState& s) override {
        log_.lastLine = s;
        return call("SetLineState");
    }
    int SetTimeouts(const ComTimeoutValues& t) override {
        log_.lastTimeouts = t;
        return call("SetTimeouts");
    }
    int SetEventMask(uint32_t) override { return call("SetEventMask"); }
    int ClearError(ComStatus& s) override {
        s = {};
        s.InQueue = log_.inQueue + static_cast<uint32_t>(log_.rx.size());
        s.Errors = log_.lineErrors;
        return call("ClearError");
    }
    int ModemStatus(uint32_t& s) override {
        s = log_.modemStatus;
        return call("ModemStatus");
    }
    int Purge(uint32_t flags) override { return call("Purge " + std::to_string(flags), "Purge"); }
    int Read(char* buffer, uint32_t count, uint32_t& done) override {
        done = 0;
        if (int e = call("Read"))
            return e;
        done = std::min<uint32_t>(count, static_cast<uint32_t>(log_.rx.size()));
        log_.rx.copy(buffer, done);
        log_.rx.erase(0, done);
        return 0;
    }
    int Write(const char* buffer, uint32_t count, uint32_t& done) override {
        done = 0;
        if (int e = call("Write"))
            return e;
        log_.written.append(buffer, count);
        done = count;
        return 0;
    }
    std::unique_ptr<ComEventWaiter> CreateEventWaiter(int& error) override {
        if (!log_.scriptedEvents) {
            error = ENOSYS;
            return nullptr;
        }
        error = 0;
        return std::make_unique<Waiter>(log_.wakeUps);
    }

private:
    class Waiter final : public ComEventWaiter {
    public:
        explicit Waiter(std::deque<uint32_t> wakeUps) : wakeUps_(std::move(wakeUps)) {}
        ComWaitResult Wait(uint32_t& mask) override {
            std::unique_lock lock(m_);
            if (!stopped_ && !wakeUps_.empty()) {
                mask = wakeUps_.front();
                wakeUps_.pop_front();
                return mask == kHangUp ? ComWaitResult::Failed : ComWaitResult::Events;
            }
            cv_.wait(lock, [&] { return stopped_; });
            return ComWaitResult::Stopped;
        }
        void Stop() override {
            std::lock_guard lock(m_);
            stopped_ = true;
            cv_.notify_all();
        }

    private:
        std::mutex m_;
        std::condition_variable cv_;
        bool stopped_ = false;
        std::deque<uint32_t> wakeUps_;
    };

    // Not logged: it comes with every tick.
    int Probe() override {
        const auto it = log_.failures.find("Probe");
        return it == log_.failures.end() ? 0 : it->second;
    }

    int call(const std::string& entry, const std::string& name = "") {
        log_.calls.push_back(entry);
        const std::string key = name.empty() ? entry : name;
        if (auto it = log_.failures.find(key); it != log_.failures.end())
            return it->second;
        if (!open_ && key != "Open")
            return EBADF;
        return 0;
    }

    FakeDeviceLog& log_;
    bool open_ = false;
};

}  // namespace kestrel::test
