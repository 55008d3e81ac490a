#pragma once
// A device that records what the engine asks of it and fails on request, for
// tests of the engine's own decisions (order of steps, codes, what is applied).

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "serial/ComDevice.h"

namespace kestrel::test {

struct FakeDeviceLog {
    std::vector<std::string> calls;        // "Open COM4", "SetupBuffers", "SetLineState", ...
    std::map<std::string, int> failures;   // call name -> error to return
    ComLineState lastLine;
    ComTimeoutValues lastTimeouts;
    uint32_t lastBuffersIn = 0, lastBuffersOut = 0;
    uint32_t modemStatus = 0;
    int count(const std::string& name) const {
        int n = 0;
        for (const auto& c : calls)
            if (c.rfind(name, 0) == 0) ++n;
        return n;
    }
};

class FakeComDevice final : public ComDevice {
public:
    explicit FakeComDevice(FakeDeviceLog& log) : log_(log) {}

    int Open(const std::string& name) override {
        if (int e = call("Open " + name, "Open")) return e;
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
        return call("ClearError");
    }
    int ModemStatus(uint32_t& s) override {
        s = log_.modemStatus;
        return call("ModemStatus");
    }
    int Purge(uint32_t flags) override { return call("Purge " + std::to_string(flags), "Purge"); }
    int Read(char*, uint32_t, uint32_t& done) override {
        done = 0;
        return call("Read");
    }
    int Write(const char*, uint32_t count, uint32_t& done) override {
        done = count;
        return call("Write");
    }
    std::unique_ptr<ComEventWaiter> CreateEventWaiter(int& error) override {
        error = ENOSYS;  // the fake has no events: tests open it with Events empty
        return nullptr;
    }

private:
    int call(const std::string& entry, const std::string& name = "") {
        log_.calls.push_back(entry);
        const std::string key = name.empty() ? entry : name;
        if (auto it = log_.failures.find(key); it != log_.failures.end()) return it->second;
        if (!open_ && key != "Open") return EBADF;
        return 0;
    }

    FakeDeviceLog& log_;
    bool open_ = false;
};

}  // namespace kestrel::test
