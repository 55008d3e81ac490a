// The serial device on Linux: a tty opened exclusively, in raw mode, set up
// through termios2 (any rate), with the Win32 timeout meaning carried out by
// poll() and an event wait that watches the tty and a stop signal together.

#include <asm/termbits.h>  // termios2, BOTHER; <termios.h> would clash with it
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "serial/ComDevice.h"
#include "serial/LineSpeedPosix.h"
#include "serial/SystemErrorPosix.h"

namespace kestrel {

namespace {

using Clock = std::chrono::steady_clock;

// How often the wait looks again at things the kernel does not wake us for:
// more bytes on top of ones still unread, modem lines, a draining output queue.
constexpr int kRecheckMs = 50;
constexpr int kTxDrainRecheckMs = 20;

int pollTimeoutMs(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

Clock::time_point after(uint64_t ms) {
    // Bounded so that huge Win32 values cannot overflow the clock.
    constexpr uint64_t kMaxMs = 1000ull * 60 * 60 * 24 * 365;
    return Clock::now() + std::chrono::milliseconds(ms > kMaxMs ? kMaxMs : ms);
}

bool noModemLines(int e) { return e == ENOTTY || e == EINVAL; }

void writeEventFd(int fd) {
    if (fd < 0) return;
    const uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void drainEventFd(int fd) {
    uint64_t v;
    while (::read(fd, &v, sizeof v) < 0 && errno == EINTR) {
    }
}

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
    void kick() { writeEventFd(kickFd_); }
    int readModemLines(uint32_t& status);

    int fd_ = -1;
    int kickFd_ = -1;  // wakes the event wait after reads, writes, purges, mask changes
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
    ComEventWaiterPosix(ComDevicePosix& device, int stopFd) : device_(device), stopFd_(stopFd) {
        uint32_t lines = 0;
        if (device_.hasModemLines_ && device_.readModemLines(lines) == 0) lastLines_ = lines;
    }
    ~ComEventWaiterPosix() override { ::close(stopFd_); }

    ComWaitResult Wait(uint32_t& mask) override;
    void Stop() override {
        stopped_.store(true);
        writeEventFd(stopFd_);
    }

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

// ---- Open and close ----------------------------------------------------------------

int ComDevicePosix::Open(const std::string& portName) {
    if (fd_ >= 0) return EBUSY;
    if (portName.empty()) return ENOENT;
    const std::string path = portName[0] == '/' ? portName : "/dev/" + portName;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    auto fail = [&](int e) {
        ::close(fd);
        return e;
    };
    termios2 probe{};
    if (::ioctl(fd, TCGETS2, &probe) != 0) return fail(errno == EINVAL ? ENOTTY : errno);
    // Nobody else may use the port while we have it: flock keeps out other
    // lockers, TIOCEXCL plain opens (pseudo-terminals may refuse it). Only
    // set once the lock is ours, so a refused open never clears an owner's.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno);
    (void)::ioctl(fd, TIOCEXCL);
    const int kick = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (kick < 0) {
        const int e = errno;
        (void)::ioctl(fd, TIOCNXCL);
        return fail(e);
    }
    int lines = 0;
    std::lock_guard lock(mutex_);
    fd_ = fd;
    kickFd_ = kick;
    hasModemLines_ = ::ioctl(fd, TIOCMGET, &lines) == 0;
    haveICount_ = ::ioctl(fd, TIOCGICOUNT, &icount_) == 0;
    consumed_ = 0;
    purged_ = false;
    txPending_ = false;
    pendingErrors_ = 0;
    eventMask_ = 0;
    return 0;
}

void ComDevicePosix::Close() {
    if (fd_ < 0) return;
    (void)::ioctl(fd_, TIOCNXCL);  // exclusivity would outlive us on a tty others keep open
    ::close(fd_);
    ::close(kickFd_);
    fd_ = -1;
    kickFd_ = -1;
}

// ---- Settings ----------------------------------------------------------------------

int ComDevicePosix::SetupBuffers(uint32_t inputSize, uint32_t outputSize) {
    if (fd_ < 0) return EBADF;
    // The kernel sizes its own queues; the sizes only set the 80 % mark.
    std::lock_guard lock(mutex_);
    inputSize_ = inputSize;
    outputSize_ = outputSize;
    return 0;
}

int ComDevicePosix::SetLineState(const ComLineState& s) {
    if (fd_ < 0) return EBADF;
    if (s.BaudRate == 0 || s.BaudRate > INT_MAX || s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > kParitySpace ||
        s.StopBits > kTwoStopBits)
        return EINVAL;
    termios2 t{};
    if (::ioctl(fd_, TCGETS2, &t) != 0) return errno;

    t.c_iflag = IGNBRK;  // a break is an event, not a zero byte in the data
    if (s.Flags & kDcbParity) t.c_iflag |= INPCK;
    if (s.Flags & kDcbOutX) t.c_iflag |= IXON;
    if (s.Flags & kDcbInX) t.c_iflag |= IXOFF;
    t.c_oflag = 0;
    t.c_lflag = 0;

    tcflag_t c = CREAD | CLOCAL;
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    c |= sizes[s.ByteSize - 5];
    switch (s.Parity) {
    case kParityOdd: c |= PARENB | PARODD; break;
    case kParityEven: c |= PARENB; break;
    case kParityMark: c |= PARENB | CMSPAR | PARODD; break;
    case kParitySpace: c |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.StopBits != kOneStopBit) c |= CSTOPB;  // 1.5 stop bits have no termios form: two
    const bool rtsHandshake = (s.Flags & kDcbRtsControlMask) == kDcbRtsControlHandshake;
    if ((s.Flags & kDcbOutxCtsFlow) || rtsHandshake) c |= CRTSCTS;
    const tcflag_t speed = LineSpeedCode(s.BaudRate);
    c |= speed | (speed << IBSHIFT);
    t.c_cflag = c;
    t.c_ispeed = s.BaudRate;
    t.c_ospeed = s.BaudRate;

    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    if (::ioctl(fd_, TCSETS2, &t) != 0) return errno;

    if (hasModemLines_) {
        const int dtr = TIOCM_DTR, rts = TIOCM_RTS;
        const bool dtrOn = (s.Flags & kDcbDtrControlMask) != 0;
        const bool rtsOn = (s.Flags & kDcbRtsControlMask) != 0;
        if (::ioctl(fd_, dtrOn ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && !noModemLines(errno)) return errno;
        if (::ioctl(fd_, rtsOn ? TIOCMBIS : TIOCMBIC, &rts) != 0 && !noModemLines(errno)) return errno;
    }
    return 0;
}

int ComDevicePosix::SetTimeouts(const ComTimeoutValues& timeouts) {
    if (fd_ < 0) return EBADF;
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return 0;
}

int ComDevicePosix::SetEventMask(uint32_t mask) {
    if (fd_ < 0) return EBADF;
    {
        std::lock_guard lock(mutex_);
        eventMask_ = mask;
    }
    kick();
    return 0;
}

// ---- Status --------------------------------------------------------------------------

uint32_t ComDevicePosix::collectLineErrorsLocked() {
    if (!haveICount_) return 0;
    serial_icounter_struct now{};
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
    uint32_t errors = 0;
    if (now.frame != icount_.frame) errors |= kCeFrame;
    if (now.parity != icount_.parity) errors |= kCeRxParity;
    if (now.overrun != icount_.overrun) errors |= kCeOverrun;
    if (now.buf_overrun != icount_.buf_overrun) errors |= kCeRxOver;
    if (now.brk != icount_.brk) errors |= kCeBreak;
    icount_ = now;
    pendingErrors_ |= errors;
    return errors;
}

int ComDevicePosix::ClearError(ComStatus& status) {
    if (fd_ < 0) return EBADF;
    int inQueue = 0;
    std::lock_guard lock(mutex_);
    if (::ioctl(fd_, FIONREAD, &inQueue) != 0) return errno;
    int outQueue = 0;
    if (::ioctl(fd_, TIOCOUTQ, &outQueue) != 0) outQueue = 0;
    collectLineErrorsLocked();
    status.Errors = pendingErrors_;
    pendingErrors_ = 0;
    status.InQueue = static_cast<uint32_t>(inQueue < 0 ? 0 : inQueue);
    status.OutQueue = static_cast<uint32_t>(outQueue < 0 ? 0 : outQueue);
    return 0;
}

int ComDevicePosix::readModemLines(uint32_t& status) {
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0) return errno;
    status = 0;
    if (lines & TIOCM_CTS) status |= kMsCtsOn;
    if (lines & TIOCM_DSR) status |= kMsDsrOn;
    if (lines & TIOCM_RNG) status |= kMsRingOn;
    if (lines & TIOCM_CAR) status |= kMsRlsdOn;
    return 0;
}

int ComDevicePosix::ModemStatus(uint32_t& status) {
    if (fd_ < 0) return EBADF;
    status = 0;
    const int e = readModemLines(status);
    if (e != 0 && noModemLines(e)) {
        status = 0;  // a pseudo-terminal has no modem lines: all off
        return 0;
    }
    return e;
}

int ComDevicePosix::Purge(uint32_t flags) {
    if (fd_ < 0) return EBADF;
    // Every transfer runs to its end inside its own call, so there is never
    // one in flight to abort: the abort flags have nothing to do.
    const bool rx = (flags & kPurgeRxClear) != 0, tx = (flags & kPurgeTxClear) != 0;
    if (!rx && !tx) return 0;
    {
        std::lock_guard lock(mutex_);
        const int which = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
        if (::ioctl(fd_, TCFLSH, which) != 0) return errno;
        if (rx) purged_ = true;
    }
    kick();
    return 0;
}

// ---- Transfers ---------------------------------------------------------------------

int ComDevicePosix::Read(char* buffer, uint32_t count, uint32_t& done) {
    done = 0;
    if (fd_ < 0) return EBADF;
    ComTimeoutValues t;
    {
        std::lock_guard lock(mutex_);
        t = timeouts_;
    }
    const uint32_t RI = t.ReadIntervalTimeout, RTM = t.ReadTotalTimeoutMultiplier, RTC = t.ReadTotalTimeoutConstant;
    // The Win32 cases: MAXDWORD/0/0 returns at once with what is there;
    // MAXDWORD/MAXDWORD/c waits up to c for the first byte and returns with it;
    // otherwise a total limit (when either part is set) and a gap limit.
    const bool immediate = RI == kMaxDword && RTM == 0 && RTC == 0;
    const bool firstByte = RI == kMaxDword && RTM == kMaxDword && RTC != 0 && RTC != kMaxDword;
    Clock::time_point totalDeadline = Clock::time_point::max();
    if (immediate)
        totalDeadline = Clock::now();
    else if (firstByte)
        totalDeadline = after(RTC);
    else if (RTM != 0 || RTC != 0)
        totalDeadline = after(static_cast<uint64_t>(RTM) * count + RTC);
    const bool useInterval = !immediate && !firstByte && RI != 0 && RI != kMaxDword;

    int result = 0;
    Clock::time_point lastByte{};
    for (;;) {
        ssize_t n;
        {
            std::lock_guard lock(mutex_);
            n = ::read(fd_, buffer + done, count - done);
            if (n > 0) consumed_ += static_cast<uint32_t>(n);
        }
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            lastByte = Clock::now();
            if (done == count || firstByte) break;
            continue;
        }
        if (n == 0) {  // end of file: the line hung up
            result = EIO;
            break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result = errno;
            break;
        }
        Clock::time_point deadline = totalDeadline;
        if (useInterval && done > 0) deadline = std::min(deadline, lastByte + std::chrono::milliseconds(RI));
        if (deadline != Clock::time_point::max() && Clock::now() >= deadline) break;
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, pollTimeoutMs(deadline));
        if (r < 0 && errno != EINTR) {
            result = errno;
            break;
        }
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN)) {
            result = EIO;
            break;
        }
    }
    if (done > 0) {
        kick();
        return 0;  // what arrived before a failure is still delivered
    }
    return result;
}

int ComDevicePosix::Write(const char* buffer, uint32_t count, uint32_t& done) {
    done = 0;
    if (fd_ < 0) return EBADF;
    ComTimeoutValues t;
    {
        std::lock_guard lock(mutex_);
        t = timeouts_;
    }
    const uint32_t WTM = t.WriteTotalTimeoutMultiplier, WTC = t.WriteTotalTimeoutConstant;
    const Clock::time_point deadline = (WTM != 0 || WTC != 0)
                                           ? after(static_cast<uint64_t>(WTM) * count + WTC)
                                           : Clock::time_point::max();
    int result = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            result = errno;
            break;
        }
        if (deadline != Clock::time_point::max() && Clock::now() >= deadline) break;  // cut short by the timeout
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, pollTimeoutMs(deadline));
        if (r < 0 && errno != EINTR) {
            result = errno;
            break;
        }
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
            result = EIO;
            break;
        }
    }
    if (done > 0) {
        {
            std::lock_guard lock(mutex_);
            txPending_ = true;
        }
        kick();
    }
    return result;
}

// ---- Event wait ----------------------------------------------------------------------

std::unique_ptr<ComEventWaiter> ComDevicePosix::CreateEventWaiter(int& error) {
    if (fd_ < 0) {
        error = EBADF;
        return nullptr;
    }
    const int stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stopFd < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::make_unique<ComEventWaiterPosix>(*this, stopFd);
}

uint32_t ComEventWaiterPosix::look(int& recheckMs, bool& hungUp, bool& armRx) {
    ComDevicePosix& d = device_;
    uint32_t found = 0;
    recheckMs = -1;
    auto recheck = [&](int ms) { recheckMs = recheckMs < 0 ? ms : std::min(recheckMs, ms); };

    // A line that hung up reports nothing more: the thread is to stop, and the
    // next operation will say what is wrong.
    pollfd state{d.fd_, 0, 0};
    if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        hungUp = true;
        return 0;
    }
    std::lock_guard lock(d.mutex_);
    const uint32_t mask = d.eventMask_;
    if (mask & (kEvRxChar | kEvRx80Full)) {
        int queued = 0;
        if (::ioctl(d.fd_, FIONREAD, &queued) != 0) {
            hungUp = errno == EIO;
            queued = 0;
        }
        const uint32_t now = static_cast<uint32_t>(queued < 0 ? 0 : queued);
        // What is left of the bytes counted last time; more than that is new.
        const uint32_t known = d.purged_ ? 0 : (lastCount_ > d.consumed_ ? lastCount_ - d.consumed_ : 0);
        d.consumed_ = 0;
        d.purged_ = false;
        if (now > known) found |= kEvRxChar;
        const uint32_t mark = d.inputSize_ / 5 * 4;
        if (mark > 0 && now >= mark && known < mark) found |= kEvRx80Full;
        lastCount_ = now;
        // Wake on new bytes only while none are left unread; bytes that stay
        // unread would otherwise wake us over and over.
        armRx = now == 0;
        if (now > 0) recheck(kRecheckMs);
    }
    if ((mask & kEvTxEmpty) && d.txPending_) {
        int outQueue = 0;
        if (::ioctl(d.fd_, TIOCOUTQ, &outQueue) != 0 || outQueue <= 0) {
            d.txPending_ = false;
            found |= kEvTxEmpty;
        } else {
            recheck(kTxDrainRecheckMs);
        }
    }
    if (d.hasModemLines_ && (mask & (kEvCts | kEvDsr | kEvRlsd | kEvRing))) {
        uint32_t lines = 0;
        if (d.readModemLines(lines) == 0) {
            const uint32_t changed = lines ^ lastLines_;
            if (changed & kMsCtsOn) found |= kEvCts;
            if (changed & kMsDsrOn) found |= kEvDsr;
            if (changed & kMsRlsdOn) found |= kEvRlsd;
            if ((changed & kMsRingOn) && (lines & kMsRingOn)) found |= kEvRing;
            lastLines_ = lines;
        }
        recheck(kRecheckMs);
    }
    if (d.haveICount_ && (mask & (kEvErr | kEvBreak))) {
        const uint32_t errors = d.collectLineErrorsLocked();
        if (errors & kCeBreak) found |= kEvBreak;
        if (errors & (kCeFrame | kCeRxParity | kCeOverrun | kCeRxOver)) found |= kEvErr;
        recheck(kRecheckMs);
    }
    return found & mask;
}

ComWaitResult ComEventWaiterPosix::Wait(uint32_t& mask) {
    for (;;) {
        if (stopped_.load()) return ComWaitResult::Stopped;
        int recheckMs = -1;
        bool hungUp = false;
        bool armRx = false;
        const uint32_t found = look(recheckMs, hungUp, armRx);
        if (found != 0) {
            mask = found;
            return ComWaitResult::Events;
        }
        if (hungUp) return ComWaitResult::Failed;
        pollfd p[3] = {{stopFd_, POLLIN, 0}, {device_.kickFd_, POLLIN, 0},
                       {device_.fd_, static_cast<short>(armRx ? POLLIN : 0), 0}};
        const int r = ::poll(p, 3, recheckMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return ComWaitResult::Failed;
        }
        if (p[0].revents) return ComWaitResult::Stopped;
        if (p[1].revents & POLLIN) drainEventFd(device_.kickFd_);
        if (p[2].revents & (POLLHUP | POLLERR | POLLNVAL)) return ComWaitResult::Failed;
    }
}

}  // namespace

int WindowsErrorCode(int deviceResult) { return WinErrorFromErrno(deviceResult); }

std::unique_ptr<ComDevice> CreateComDevice() { return std::make_unique<ComDevicePosix>(); }

}  // namespace kestrel
