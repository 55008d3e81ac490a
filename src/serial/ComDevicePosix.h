#pragma once
// The serial device on Linux, shared by its three files: ComDevicePosix.cpp
// (open, close, line settings, status, purge), ComTimeoutsPosix.cpp (reads and
// writes bounded the way the Win32 time-outs bound them) and
// ComEventWaitPosix.cpp (WaitCommEvent's meaning: line events and a stop
// signal waited on together). Private to those files.

#include <linux/serial.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "serial/ComDevice.h"

namespace kestrel {

class ComEventWaiterPosix;

class ComDevicePosix final : public ComDevice {
public:
    ~ComDevicePosix() override { Close(); }

    int Open(const std::string& portName) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    int SetupBuffers(uint32_t inputSize, uint32_t outputSize) override;
    int SetLineState(const ComLineState& state) override;
    int SetTimeouts(const ComTimeoutValues& timeouts) override;
    int SetEventMask(uint32_t mask) override;
    int ClearError(ComStatus& status) override;
    int ModemStatus(uint32_t& status) override;
    int Purge(uint32_t flags) override;
    int Read(char* buffer, uint32_t count, uint32_t& done) override;
    int Write(const char* buffer, uint32_t count, uint32_t& done) override;
    std::unique_ptr<ComEventWaiter> CreateEventWaiter(int& error) override;

private:
    friend class ComEventWaiterPosix;

    // Line errors and breaks counted by the driver since the last look, as
    // kCe... bits; they are also kept for the next ClearError. Caller holds mutex_.
    uint32_t collectLineErrorsLocked();
    // Wakes the event wait after reads, writes, purges and mask changes, which
    // change what it is waiting for.
    void kick();
    int readModemLines(uint32_t& status);
    ComTimeoutValues currentTimeouts();

    int fd_ = -1;
    int kickFd_ = -1;
    bool hasModemLines_ = false;

    std::mutex mutex_;  // guards everything below
    ComTimeoutValues timeouts_;
    uint32_t inputSize_ = 0;
    uint32_t outputSize_ = 0;
    uint32_t eventMask_ = 0;
    // Receive bookkeeping for "new bytes" events: bytes taken by reads since
    // the wait last counted the queue, and whether the queue was discarded.
    uint32_t consumed_ = 0;
    bool purged_ = false;
    bool txPending_ = false;
    uint32_t pendingErrors_ = 0;
    bool haveICount_ = false;
    serial_icounter_struct icount_{};
};

class ComEventWaiterPosix final : public ComEventWaiter {
public:
    ComEventWaiterPosix(ComDevicePosix& device, int stopFd);
    ~ComEventWaiterPosix() override;

    ComWaitResult Wait(uint32_t& mask) override;
    void Stop() override;

private:
    // Events that have happened since the last look; sets the poll timeout
    // for the things that need looking at again.
    // armRx: whether new bytes should wake the wait.
    uint32_t look(int& recheckMs, bool& hungUp, bool& armRx);

    ComDevicePosix& device_;
    int stopFd_;
    std::atomic<bool> stopped_{false};
    uint32_t lastCount_ = 0;  // bytes in the input queue at the last look
    uint32_t lastLines_ = 0;
};

// An eventfd as a wake signal: one more wake-up, and taking the pending ones.
void SignalEventFd(int fd);
void DrainEventFd(int fd);

// A pseudo-terminal has no modem lines: these errors mean "none", not a failure.
inline bool NoModemLines(int e) { return e == ENOTTY || e == EINVAL; }

}  // namespace kestrel
