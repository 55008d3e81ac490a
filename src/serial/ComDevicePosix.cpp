// The serial device on Linux: a tty opened exclusively, in raw mode, set up
// through termios2 (any rate). Its reads and writes are in
// ComTimeoutsPosix.cpp, its event wait in ComEventWaitPosix.cpp.

#include <asm/termbits.h>  // termios2, BOTHER; <termios.h> would clash with it
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "serial/ComDevicePosix.h"
#include "serial/LineSpeedPosix.h"
#include "serial/SystemErrorPosix.h"

namespace kestrel {

// ---- Open and close ----------------------------------------------------------------

int ComDevicePosix::Open(const std::string& portName) {
    if (fd_ >= 0)
        return EBUSY;
    if (portName.empty())
        return ENOENT;
    const std::string path = portName[0] == '/' ? portName : "/dev/" + portName;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno;
    auto fail = [&](int e) {
        ::close(fd);
        return e;
    };
    termios2 probe{};
    if (::ioctl(fd, TCGETS2, &probe) != 0)
        return fail(errno == EINVAL ? ENOTTY : errno);
    // Nobody else may use the port while we have it: flock keeps out other
    // lockers, TIOCEXCL plain opens (pseudo-terminals may refuse it). Only
    // set once the lock is ours, so a refused open never clears an owner's.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno);
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
    if (fd_ < 0)
        return;
    (void)::ioctl(fd_, TIOCNXCL);  // exclusivity would outlive us on a tty others keep open
    ::close(fd_);
    ::close(kickFd_);
    fd_ = -1;
    kickFd_ = -1;
}

// ---- Settings ----------------------------------------------------------------------

int ComDevicePosix::SetupBuffers(uint32_t inputSize, uint32_t outputSize) {
    if (fd_ < 0)
        return EBADF;
    // The kernel sizes its own queues; the sizes only set the 80 % mark.
    std::lock_guard lock(mutex_);
    inputSize_ = inputSize;
    outputSize_ = outputSize;
    return 0;
}

int ComDevicePosix::SetLineState(const ComLineState& s) {
    if (fd_ < 0)
        return EBADF;
    if (s.BaudRate == 0 || s.BaudRate > INT_MAX || s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > kParitySpace ||
        s.StopBits > kTwoStopBits)
        return EINVAL;
    termios2 t{};
    if (::ioctl(fd_, TCGETS2, &t) != 0)
        return errno;

    t.c_iflag = IGNBRK;  // a break is an event, not a zero byte in the data
    if (s.Flags & kDcbParity)
        t.c_iflag |= INPCK;
    if (s.Flags & kDcbOutX)
        t.c_iflag |= IXON;
    if (s.Flags & kDcbInX)
        t.c_iflag |= IXOFF;
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
    if (s.StopBits != kOneStopBit)
        c |= CSTOPB;  // 1.5 stop bits have no termios form: two
    const bool rtsHandshake = (s.Flags & kDcbRtsControlMask) == kDcbRtsControlHandshake;
    if ((s.Flags & kDcbOutxCtsFlow) || rtsHandshake)
        c |= CRTSCTS;
    const tcflag_t speed = LineSpeedCode(s.BaudRate);
    c |= speed | (speed << IBSHIFT);
    t.c_cflag = c;
    t.c_ispeed = s.BaudRate;
    t.c_ospeed = s.BaudRate;

    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    if (::ioctl(fd_, TCSETS2, &t) != 0)
        return errno;

    if (hasModemLines_) {
        const int dtr = TIOCM_DTR, rts = TIOCM_RTS;
        const bool dtrOn = (s.Flags & kDcbDtrControlMask) != 0;
        const bool rtsOn = (s.Flags & kDcbRtsControlMask) != 0;
        if (::ioctl(fd_, dtrOn ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && !NoModemLines(errno))
            return errno;
        if (::ioctl(fd_, rtsOn ? TIOCMBIS : TIOCMBIC, &rts) != 0 && !NoModemLines(errno))
            return errno;
    }
    return 0;
}

int ComDevicePosix::SetTimeouts(const ComTimeoutValues& timeouts) {
    if (fd_ < 0)
        return EBADF;
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return 0;
}

int ComDevicePosix::SetEventMask(uint32_t mask) {
    if (fd_ < 0)
        return EBADF;
    {
        std::lock_guard lock(mutex_);
        eventMask_ = mask;
    }
    kick();
    return 0;
}

// ---- Status --------------------------------------------------------------------------

uint32_t ComDevicePosix::collectLineErrorsLocked() {
    if (!haveICount_)
        return 0;
    serial_icounter_struct now{};
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0)
        return 0;
    uint32_t errors = 0;
    if (now.frame != icount_.frame)
        errors |= kCeFrame;
    if (now.parity != icount_.parity)
        errors |= kCeRxParity;
    if (now.overrun != icount_.overrun)
        errors |= kCeOverrun;
    if (now.buf_overrun != icount_.buf_overrun)
        errors |= kCeRxOver;
    if (now.brk != icount_.brk)
        errors |= kCeBreak;
    icount_ = now;
    pendingErrors_ |= errors;
    return errors;
}

int ComDevicePosix::ClearError(ComStatus& status) {
    if (fd_ < 0)
        return EBADF;
    int inQueue = 0;
    std::lock_guard lock(mutex_);
    if (::ioctl(fd_, FIONREAD, &inQueue) != 0)
        return errno;
    int outQueue = 0;
    if (::ioctl(fd_, TIOCOUTQ, &outQueue) != 0)
        outQueue = 0;
    collectLineErrorsLocked();
    status.Errors = pendingErrors_;
    pendingErrors_ = 0;
    status.InQueue = static_cast<uint32_t>(inQueue < 0 ? 0 : inQueue);
    status.OutQueue = static_cast<uint32_t>(outQueue < 0 ? 0 : outQueue);
    return 0;
}

int ComDevicePosix::readModemLines(uint32_t& status) {
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0)
        return errno;
    status = 0;
    if (lines & TIOCM_CTS)
        status |= kMsCtsOn;
    if (lines & TIOCM_DSR)
        status |= kMsDsrOn;
    if (lines & TIOCM_RNG)
        status |= kMsRingOn;
    if (lines & TIOCM_CAR)
        status |= kMsRlsdOn;
    return 0;
}

int ComDevicePosix::ModemStatus(uint32_t& status) {
    if (fd_ < 0)
        return EBADF;
    status = 0;
    const int e = readModemLines(status);
    if (e != 0 && NoModemLines(e)) {
        status = 0;  // a pseudo-terminal has no modem lines: all off
        return 0;
    }
    return e;
}

int ComDevicePosix::Purge(uint32_t flags) {
    if (fd_ < 0)
        return EBADF;
    // Every transfer runs to its end inside its own call, so there is never
    // one in flight to abort: the abort flags have nothing to do.
    const bool rx = (flags & kPurgeRxClear) != 0, tx = (flags & kPurgeTxClear) != 0;
    if (!rx && !tx)
        return 0;
    {
        std::lock_guard lock(mutex_);
        const int which = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
        if (::ioctl(fd_, TCFLSH, which) != 0)
            return errno;
        if (rx)
            purged_ = true;
    }
    kick();
    return 0;
}

void ComDevicePosix::kick() { SignalEventFd(kickFd_); }

ComTimeoutValues ComDevicePosix::currentTimeouts() {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

int WindowsErrorCode(int deviceResult) { return WinErrorFromErrno(deviceResult); }

std::unique_ptr<ComDevice> CreateComDevice() { return std::make_unique<ComDevicePosix>(); }

}  // namespace kestrel
