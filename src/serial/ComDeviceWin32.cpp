// The serial device on the Win32 communications API. Every transfer is
// overlapped with a request of its own and waited for until done, so to the
// engine each call blocks.
//
// Sections:
//   Requests      an overlapped request of its own per transfer; a pending
//                 event wait; the input counted, and a device probed
//   Event waits   ComEventWaiterWin32: the event mask, its wait and cancel
//   The device    ComDeviceWin32: open, settings, reads, writes, the modem
//                 lines, close; CreateComDeviceWin32

#include "serial/ComDeviceWin32.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

namespace kestrel {
namespace {

int lastError() { return static_cast<int>(GetLastError()); }

int resultOf(BOOL ok) { return ok ? 0 : lastError(); }

// One ReadFile or WriteFile: an overlapped block whose completion event is a
// manual-reset event of its own, created signalled.
// ---- Requests -----------------------------------------------------------------------

class AsyncRequest {
public:
    enum Kind { Write = 0, Read = 1 };

    explicit AsyncRequest(Kind kind) : kind_(kind) {
        ZeroMemory(&overlapped_, sizeof overlapped_);
        overlapped_.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
    ~AsyncRequest() {
        if (overlapped_.hEvent)
            CloseHandle(overlapped_.hEvent);
    }
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;

    int Run(HANDLE device, void* buffer, uint32_t count, uint32_t& done) {
        done = 0;
        if (!overlapped_.hEvent)
            return lastError();
        const BOOL started = kind_ == Read ? ReadFile(device, buffer, count, nullptr, &overlapped_)
                                           : WriteFile(device, buffer, count, nullptr, &overlapped_);
        if (!started) {
            const DWORD err = GetLastError();
            if (err == ERROR_TIMEOUT)
                return timedOut(done);
            if (err != ERROR_IO_PENDING)
                return static_cast<int>(err);
        }
        // The transfer ends on its own: the port's timeouts bound it.
        if (WaitForSingleObject(overlapped_.hEvent, INFINITE) != WAIT_OBJECT_0)
            return lastError();
        DWORD transferred = 0;
        if (!GetOverlappedResult(device, &overlapped_, &transferred, FALSE)) {
            const DWORD err = GetLastError();
            if (err == ERROR_TIMEOUT)
                return timedOut(done);
            return static_cast<int>(err);
        }
        done = transferred;
        return 0;
    }

private:
    // Windows completes a transfer cut short by the timeouts successfully with
    // the smaller count. Wine instead fails a read that got nothing within the
    // total timeout with ERROR_TIMEOUT; that is the same outcome, not a
    // failed read, so it is reported as a timeout with what was transferred
    // (a write ending that way is taken alike).
    int timedOut(uint32_t& done) {
        done = static_cast<uint32_t>(overlapped_.InternalHigh);
        return 0;
    }

    Kind kind_;
    OVERLAPPED overlapped_;
};

// What WaitCommEvent writes into while it is pending. Lives on the heap so
// that it can outlive the waiter if the system never completes the wait.
struct PendingWait {
    OVERLAPPED overlapped{};
    DWORD mask = 0;
    std::chrono::steady_clock::time_point givenUp{};  // when it was left to the system

    static PendingWait* Create() {
        auto* wait = new PendingWait;
        wait->overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (!wait->overlapped.hEvent) {
            delete wait;
            return nullptr;
        }
        return wait;
    }
    void Free() {
        CloseHandle(overlapped.hEvent);
        delete this;
    }
    bool Finished() const { return HasOverlappedIoCompleted(&overlapped); }
};

// What the main thread's calls tell the event thread about the input queue,
// so that it can tell bytes that arrived from bytes that merely still wait.
struct InputAccount {
    std::atomic<uint64_t> taken{0};       // bytes handed out by Read
    std::atomic<int> readsActive{0};      // Reads under way
    std::atomic<uint32_t> discards{0};    // input purges
    std::atomic<uint32_t> heldErrors{0};  // line errors the event thread's queue check cleared
};

// Whether the device still answers: an unplugged USB adapter fails
// ClearCommError and GetCommModemStatus (access denied, bad command, device
// not connected); a line whose DSR was up at the open and is down now has
// hung up (Wine's pseudo-terminal lines, a modem that dropped the call).
// Line errors the check clears are kept for the engine. 0 or the OS error.
int ProbeDevice(HANDLE device, bool readyAtOpen, InputAccount& account) {
    DWORD errors = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof stat);
    if (!ClearCommError(device, &errors, &stat))
        return lastError();
    if (errors)
        account.heldErrors.fetch_or(errors);
    DWORD lines = 0;
    if (!GetCommModemStatus(device, &lines))
        return lastError();
    if (readyAtOpen && !(lines & MS_DSR_ON))
        return ERROR_DEVICE_NOT_CONNECTED;
    return 0;
}

// ---- Event waits --------------------------------------------------------------------

class ComEventWaiterWin32 final : public ComEventWaiter {
public:
    ComEventWaiterWin32(HANDLE device, HANDLE stopSignal, PendingWait* wait, std::shared_ptr<InputAccount> account,
                        bool readyAtOpen, const ComWaitCalls& calls)
        : device_(device),
          stopSignal_(stopSignal),
          wait_(wait),
          account_(std::move(account)),
          readyAtOpen_(readyAtOpen),
          calls_(calls),
          discards_(account_->discards.load()),
          arrived_(account_->taken.load()) {}

    ~ComEventWaiterWin32() override {
        // The overlapped block may only go once the system has finished the
        // wait. The event thread's exit steps (SetCommMask 0, PurgeComm) end
        // it within milliseconds; repeat the first in case they did not run.
        // Should it still not finish, the block is left behind rather than
        // freed under the system or waited for forever.
        bool finished = !pending_;
        if (!finished) {
            SetCommMask(device_, 0);
            finished = WaitForSingleObject(wait_->overlapped.hEvent, kFinishLimitMs) == WAIT_OBJECT_0;
        }
        if (finished)
            wait_->Free();
        sweepGivenUp(true);
        CloseHandle(stopSignal_);
    }

    ComWaitResult Wait(uint32_t& mask) override {
        for (;;) {
            if (WaitForSingleObject(stopSignal_, 0) == WAIT_OBJECT_0)
                return ComWaitResult::Stopped;
            DWORD seen = 0;
            const ComWaitResult r = waitOnce(seen);
            if (r != ComWaitResult::Events)
                return r;
            if ((seen & EV_RXCHAR) && !bytesArrived())
                seen &= ~DWORD{EV_RXCHAR};
            if (seen == 0)
                continue;  // only a repeat of bytes already reported
            mask = seen;
            return ComWaitResult::Events;
        }
    }

    void Stop() override { SetEvent(stopSignal_); }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr DWORD kFinishLimitMs = 2000;
    static constexpr std::chrono::milliseconds kMinRearmInterval{10};
    // How long a device that answers may refuse every new wait before the
    // event thread gives up on it.
    static constexpr std::chrono::seconds kRefusalLimit{2};
    // A wait given up on that the system never completed: Wine lost its
    // result. Windows completes a cancelled wait within milliseconds.
    static constexpr std::chrono::seconds kGivenUpLimit{10};

    // One WaitCommEvent, waited for together with the stop signal.
    ComWaitResult waitOnce(DWORD& seen) {
        if (!pending_) {
            if (!paceRearm())
                return ComWaitResult::Stopped;
            ResetEvent(wait_->overlapped.hEvent);
            wait_->mask = 0;
            lastArm_ = Clock::now();
            if (calls_.waitCommEvent(device_, &wait_->mask, &wait_->overlapped)) {
                started();
                seen = wait_->mask;
                return ComWaitResult::Events;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                // A wait that cannot even start (a device without modem
                // lines refuses modem events, a removed device) would fail
                // again at once: give up instead of spinning. Once waits
                // have started, though, a refusal is the system still
                // finishing the last one (Wine, under load, refuses a new
                // wait with ERROR_INVALID_PARAMETER until then): while the
                // device answers, look at what it holds and try again.
                const auto now = Clock::now();
                if (refusedSince_ == Clock::time_point{})
                    refusedSince_ = now;
                if (!everStarted_ || now - refusedSince_ > kRefusalLimit || !deviceAnswers())
                    return ComWaitResult::Failed;
                return waiting(seen);
            }
            started();
            pending_ = true;
        }
        const HANDLE handles[2] = {stopSignal_, wait_->overlapped.hEvent};
        const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0)
            return ComWaitResult::Stopped;  // the wait stays pending
        if (woke != WAIT_OBJECT_0 + 1)
            return ComWaitResult::Failed;
        DWORD unused = 0;
        if (calls_.getOverlappedResult(device_, &wait_->overlapped, &unused, FALSE)) {
            pending_ = false;
            seen = wait_->mask;
            return ComWaitResult::Events;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_IO_INCOMPLETE) {
            pending_ = false;
            // Wine aborts some waits spuriously: wait again.
            if (error == ERROR_OPERATION_ABORTED)
                return ComWaitResult::Nothing;
            // Any other failure is a device gone only when the device no
            // longer answers (access denied, bad command, device removed).
            if (!deviceAnswers())
                return ComWaitResult::Failed;
        } else {
            // Signalled without a result. Under load Wine's waiting thread
            // can finish the wait and signal it before the call that started
            // it marks it pending, which then stays so for good; Windows
            // might signal a wait that is merely not finished. Either way the
            // wait is ended and armed anew, and what arrived meanwhile is
            // looked at at once.
            giveUpWait();
        }
        return waiting(seen);
    }

    void started() {
        everStarted_ = true;
        refusedSince_ = {};
    }

    bool deviceAnswers() { return ProbeDevice(device_, readyAtOpen_, *account_) == 0; }

    // What the device holds now, as the events a wait would have reported:
    // bytes waiting, line errors.
    ComWaitResult waiting(DWORD& seen) {
        DWORD watched = 0;
        GetCommMask(device_, &watched);
        DWORD errors = 0;
        COMSTAT stat;
        ZeroMemory(&stat, sizeof stat);
        if (!ClearCommError(device_, &errors, &stat))
            return ComWaitResult::Nothing;  // the next wait tells whether it is gone
        if (errors) {
            account_->heldErrors.fetch_or(errors);
            seen |= EV_ERR;
        }
        if (stat.cbInQue)
            seen |= EV_RXCHAR;
        seen &= watched;
        return seen ? ComWaitResult::Events : ComWaitResult::Nothing;
    }

    // Ends the current wait: cancelled (Windows; Wine 8 has nothing to
    // cancel and answers ERROR_NOT_FOUND) and its mask set again, which ends
    // a pending wait on Windows and Wine's waiting thread alike. Its block is
    // used again only once the system has finished with it; until then (for
    // good, when Wine lost its result) it is kept aside and a fresh one waits.
    void giveUpWait() {
        pending_ = false;
        CancelIoEx(device_, &wait_->overlapped);
        DWORD watched = 0;
        if (GetCommMask(device_, &watched))
            SetCommMask(device_, watched);
        sweepGivenUp(false);
        if (wait_->Finished())
            return;
        PendingWait* fresh = PendingWait::Create();
        if (!fresh)
            return;  // no event to spare: wait on the old block again
        wait_->givenUp = Clock::now();
        givenUp_.push_back(wait_);
        wait_ = fresh;
    }

    // Frees the blocks given up on that the system has finished with, or
    // has not touched for kGivenUpLimit; at the end the others stay behind,
    // as a current block that does not finish does.
    void sweepGivenUp(bool atEnd) {
        const auto now = Clock::now();
        std::erase_if(givenUp_, [&](PendingWait* w) {
            if (w->Finished() || now - w->givenUp >= kGivenUpLimit) {
                w->Free();
                return true;
            }
            return atEnd;
        });
    }

    // Windows signals EV_RXCHAR once per arrival; Wine signals it again and
    // again while unread bytes wait. Bytes taken so far plus the bytes waiting
    // only grow when something arrived, so a wake-up that finds them unchanged
    // is a repeat. Any doubt (a read under way, a purge in between, a failed
    // count) counts as an arrival: an extra event is harmless, a lost one not.
    bool bytesArrived() {
        const uint64_t takenBefore = account_->taken.load();
        const bool readingBefore = account_->readsActive.load() > 0;
        const uint32_t discards = account_->discards.load();
        DWORD errors = 0;
        COMSTAT stat;
        ZeroMemory(&stat, sizeof stat);
        if (!ClearCommError(device_, &errors, &stat))
            return true;
        // The call also cleared the line errors: keep them for the next
        // ClearError of the device, where the engine looks for them.
        if (errors)
            account_->heldErrors.fetch_or(errors);
        const uint64_t takenAfter = account_->taken.load();
        const bool uncertain =
            readingBefore || account_->readsActive.load() > 0 || takenBefore != takenAfter || discards != discards_;
        const uint64_t arrived = takenAfter + stat.cbInQue;
        if (uncertain) {
            if (discards != discards_)
                arrived_ = arrived;  // the purged bytes left the count
            discards_ = discards;
            return stat.cbInQue > 0;
        }
        if (arrived <= arrived_)
            return false;
        arrived_ = arrived;
        return true;
    }

    // Wine completes EV_RXCHAR at once again while unread bytes wait, and
    // some masks complete spuriously with ERROR_OPERATION_ABORTED; re-arming
    // at once would make either a busy loop. Arming at most once per
    // kMinRearmInterval costs Windows nothing: bytes that arrive in the
    // meantime are counted by the next wake-up's BytesWaiting. False when the
    // stop signal came during the pause.
    bool paceRearm() {
        const auto due = lastArm_ + kMinRearmInterval;
        const auto now = Clock::now();
        if (now >= due)
            return true;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
        return WaitForSingleObject(stopSignal_, static_cast<DWORD>(ms)) == WAIT_TIMEOUT;
    }

    HANDLE device_;
    HANDLE stopSignal_;
    PendingWait* wait_;
    std::shared_ptr<InputAccount> account_;
    bool readyAtOpen_;
    ComWaitCalls calls_;
    uint32_t discards_;  // account_->discards when last looked at
    uint64_t arrived_;   // highest count of bytes taken plus waiting seen so far
    bool pending_ = false;
    Clock::time_point lastArm_{};
    bool everStarted_ = false;          // a wait has started on this device
    Clock::time_point refusedSince_{};  // the first of the refusals in a row
    std::vector<PendingWait*> givenUp_;
};

// ---- The device ---------------------------------------------------------------------

class ComDeviceWin32 final : public ComDevice {
public:
    explicit ComDeviceWin32(const ComWaitCalls& calls) : calls_(calls) {}
    ~ComDeviceWin32() override { Close(); }

    int Open(const std::string& portName) override {
        if (IsOpen())
            Close();
        const std::string path = "\\\\.\\" + portName;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return lastError();
        handle_ = h;
        DWORD lines = 0;
        readyAtOpen_ = GetCommModemStatus(h, &lines) && (lines & MS_DSR_ON);
        return 0;
    }

    void Close() override {
        if (IsOpen())
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    int SetupBuffers(uint32_t inputSize, uint32_t outputSize) override {
        return resultOf(SetupComm(handle_, inputSize, outputSize));
    }

    int SetLineState(const ComLineState& s) override {
        DCB dcb;
        ZeroMemory(&dcb, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = s.BaudRate;
        dcb.fBinary = (s.Flags & kDcbBinary) != 0;
        dcb.fParity = (s.Flags & kDcbParity) != 0;
        dcb.fOutxCtsFlow = (s.Flags & kDcbOutxCtsFlow) != 0;
        dcb.fOutxDsrFlow = (s.Flags & kDcbOutxDsrFlow) != 0;
        dcb.fDtrControl = (s.Flags & kDcbDtrControlMask) >> 4;
        dcb.fDsrSensitivity = (s.Flags & kDcbDsrSensitivity) != 0;
        dcb.fTXContinueOnXoff = (s.Flags & kDcbTxContinueOnXoff) != 0;
        dcb.fOutX = (s.Flags & kDcbOutX) != 0;
        dcb.fInX = (s.Flags & kDcbInX) != 0;
        dcb.fErrorChar = (s.Flags & kDcbErrorChar) != 0;
        dcb.fNull = (s.Flags & kDcbNull) != 0;
        dcb.fRtsControl = (s.Flags & kDcbRtsControlMask) >> 12;
        dcb.XonLim = s.XonLim;
        dcb.XoffLim = s.XoffLim;
        dcb.ByteSize = s.ByteSize;
        dcb.Parity = s.Parity;
        dcb.StopBits = s.StopBits;
        dcb.XonChar = s.XonChar;
        dcb.XoffChar = s.XoffChar;
        dcb.ErrorChar = s.ErrorChar;
        dcb.EofChar = s.EofChar;
        dcb.EvtChar = s.EvtChar;
        return resultOf(SetCommState(handle_, &dcb));
    }

    int SetTimeouts(const ComTimeoutValues& t) override {
        COMMTIMEOUTS ct;
        ct.ReadIntervalTimeout = t.ReadIntervalTimeout;
        ct.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
        ct.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
        ct.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
        ct.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
        return resultOf(SetCommTimeouts(handle_, &ct));
    }

    int SetEventMask(uint32_t mask) override { return resultOf(SetCommMask(handle_, mask)); }

    int ClearError(ComStatus& status) override {
        DWORD errors = 0;
        COMSTAT stat;
        ZeroMemory(&stat, sizeof stat);
        if (!ClearCommError(handle_, &errors, &stat))
            return lastError();
        status.Errors = errors | account_->heldErrors.exchange(0);
        status.InQueue = stat.cbInQue;
        status.OutQueue = stat.cbOutQue;
        return 0;
    }

    int ModemStatus(uint32_t& status) override {
        DWORD bits = 0;
        if (!GetCommModemStatus(handle_, &bits))
            return lastError();
        status = bits;
        return 0;
    }

    int Probe() override { return IsOpen() ? ProbeDevice(handle_, readyAtOpen_, *account_) : 0; }

    int Purge(uint32_t flags) override {
        const int result = resultOf(PurgeComm(handle_, flags));
        if (result == 0 && (flags & (PURGE_RXCLEAR | PURGE_RXABORT)))
            ++account_->discards;
        return result;
    }

    int Read(char* buffer, uint32_t count, uint32_t& done) override {
        ++account_->readsActive;
        AsyncRequest request(AsyncRequest::Read);
        const int result = request.Run(handle_, buffer, count, done);
        account_->taken += done;
        --account_->readsActive;
        return result;
    }

    int Write(const char* buffer, uint32_t count, uint32_t& done) override {
        AsyncRequest request(AsyncRequest::Write);
        return request.Run(handle_, const_cast<char*>(buffer), count, done);
    }

    std::unique_ptr<ComEventWaiter> CreateEventWaiter(int& error) override {
        error = 0;
        HANDLE stopSignal = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!stopSignal) {
            error = lastError();
            return nullptr;
        }
        PendingWait* wait = PendingWait::Create();
        if (!wait) {
            error = lastError();
            CloseHandle(stopSignal);
            return nullptr;
        }
        return std::make_unique<ComEventWaiterWin32>(handle_, stopSignal, wait, account_, readyAtOpen_, calls_);
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool readyAtOpen_ = false;  // DSR was up when the device was opened
    ComWaitCalls calls_;
    std::shared_ptr<InputAccount> account_ = std::make_shared<InputAccount>();
};

}  // namespace

int WindowsErrorCode(int deviceResult) { return deviceResult; }  // GetLastError() already

std::unique_ptr<ComDevice> CreateComDeviceWin32(const ComWaitCalls& calls) {
    return std::make_unique<ComDeviceWin32>(calls);
}

std::unique_ptr<ComDevice> CreateComDevice() { return CreateComDeviceWin32({}); }

}  // namespace kestrel
