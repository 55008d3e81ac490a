// The event thread's wait on Linux, with WaitCommEvent's meaning: the tty
// and a stop signal are polled together; what the kernel does not wake us for
// (more bytes on top of ones still unread, modem lines, a draining output
// queue, line errors) is looked at again every few tens of milliseconds.

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/ComDevicePosix.h"

namespace kestrel {

namespace {

constexpr int kRecheckMs = 50;
constexpr int kTxDrainRecheckMs = 20;

}  // namespace

void SignalEventFd(int fd) {
    if (fd < 0)
        return;
    const uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void DrainEventFd(int fd) {
    uint64_t v;
    while (::read(fd, &v, sizeof v) < 0 && errno == EINTR) {
    }
}

ComEventWaiterPosix::ComEventWaiterPosix(ComDevicePosix& device, int stopFd) : device_(device), stopFd_(stopFd) {
    uint32_t lines = 0;
    if (device_.hasModemLines_ && device_.readModemLines(lines) == 0)
        lastLines_ = lines;
}

ComEventWaiterPosix::~ComEventWaiterPosix() { ::close(stopFd_); }

void ComEventWaiterPosix::Stop() {
    stopped_.store(true);
    SignalEventFd(stopFd_);
}

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
        if (now > known)
            found |= kEvRxChar;
        const uint32_t mark = d.inputSize_ / 5 * 4;
        if (mark > 0 && now >= mark && known < mark)
            found |= kEvRx80Full;
        lastCount_ = now;
        // Wake on new bytes only while none are left unread; bytes that stay
        // unread would otherwise wake us over and over.
        armRx = now == 0;
        if (now > 0)
            recheck(kRecheckMs);
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
            if (changed & kMsCtsOn)
                found |= kEvCts;
            if (changed & kMsDsrOn)
                found |= kEvDsr;
            if (changed & kMsRlsdOn)
                found |= kEvRlsd;
            if ((changed & kMsRingOn) && (lines & kMsRingOn))
                found |= kEvRing;
            lastLines_ = lines;
        }
        recheck(kRecheckMs);
    }
    if (d.haveICount_ && (mask & (kEvErr | kEvBreak))) {
        const uint32_t errors = d.collectLineErrorsLocked();
        if (errors & kCeBreak)
            found |= kEvBreak;
        if (errors & (kCeFrame | kCeRxParity | kCeOverrun | kCeRxOver))
            found |= kEvErr;
        recheck(kRecheckMs);
    }
    return found & mask;
}

ComWaitResult ComEventWaiterPosix::Wait(uint32_t& mask) {
    for (;;) {
        if (stopped_.load())
            return ComWaitResult::Stopped;
        int recheckMs = -1;
        bool hungUp = false;
        bool armRx = false;
        const uint32_t found = look(recheckMs, hungUp, armRx);
        if (found != 0) {
            mask = found;
            return ComWaitResult::Events;
        }
        if (hungUp)
            return ComWaitResult::Failed;
        pollfd p[3] = {{stopFd_, POLLIN, 0},
                       {device_.kickFd_, POLLIN, 0},
                       {device_.fd_, static_cast<short>(armRx ? POLLIN : 0), 0}};
        const int r = ::poll(p, 3, recheckMs);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return ComWaitResult::Failed;
        }
        if (p[0].revents)
            return ComWaitResult::Stopped;
        if (p[1].revents & POLLIN)
            DrainEventFd(device_.kickFd_);
        if (p[2].revents & (POLLHUP | POLLERR | POLLNVAL))
            return ComWaitResult::Failed;
    }
}

}  // namespace kestrel
