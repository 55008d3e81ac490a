// Reads and writes on the Linux tty, bounded the way the Win32 time-outs bound
// them: the tty is non-blocking, and poll() waits for it up to the deadline
// the time-out rules give.

#include "serial/ComTimeoutsPosix.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "serial/ComDevicePosix.h"

namespace kestrel {

namespace {

constexpr uint64_t kMaxLimitMs = 1000ull * 60 * 60 * 24 * 365;

ComClock::time_point after(ComClock::time_point start, uint64_t ms) {
    return start + std::chrono::milliseconds(std::min(ms, kMaxLimitMs));
}

int pollTimeoutMs(ComClock::time_point deadline) {
    if (deadline == ComClock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - ComClock::now()).count();
    if (left <= 0)
        return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits until fd can take `wanted` or the deadline passes: 0 to go on, or
// the error that ends the transfer (a hang-up reads as EIO).
int awaitReady(int fd, short wanted, ComClock::time_point deadline) {
    pollfd p{fd, wanted, 0};
    const int r = ::poll(&p, 1, pollTimeoutMs(deadline));
    if (r < 0 && errno != EINTR)
        return errno;
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & wanted))
        return EIO;
    return 0;
}

}  // namespace

ReadLimits ReadLimitsFor(const ComTimeoutValues& t, uint32_t count) {
    const uint32_t RI = t.ReadIntervalTimeout, RTM = t.ReadTotalTimeoutMultiplier, RTC = t.ReadTotalTimeoutConstant;
    ReadLimits limits;
    if (RI == kMaxDword && RTM == 0 && RTC == 0) {
        limits.total = true;  // at once
        return limits;
    }
    if (RI == kMaxDword && RTM == kMaxDword && RTC != 0 && RTC != kMaxDword) {
        limits.total = true;
        limits.totalMs = RTC;
        limits.returnOnFirstByte = true;
        return limits;
    }
    if (RTM != 0 || RTC != 0) {
        limits.total = true;
        limits.totalMs = static_cast<uint64_t>(RTM) * count + RTC;
    }
    if (RI != 0 && RI != kMaxDword) {
        limits.interval = true;
        limits.intervalMs = RI;
    }
    return limits;
}

ComClock::time_point ReadDeadline(const ReadLimits& limits, ComClock::time_point start, uint32_t done,
                                  ComClock::time_point lastByte) {
    ComClock::time_point deadline = ComClock::time_point::max();
    if (limits.total)
        deadline = after(start, limits.totalMs);
    if (limits.interval && done > 0)
        deadline = std::min(deadline, after(lastByte, limits.intervalMs));
    return deadline;
}

ComClock::time_point WriteDeadline(const ComTimeoutValues& t, uint32_t count, ComClock::time_point start) {
    const uint32_t WTM = t.WriteTotalTimeoutMultiplier, WTC = t.WriteTotalTimeoutConstant;
    if (WTM == 0 && WTC == 0)
        return ComClock::time_point::max();
    return after(start, static_cast<uint64_t>(WTM) * count + WTC);
}

int ComDevicePosix::Read(char* buffer, uint32_t count, uint32_t& done) {
    done = 0;
    if (fd_ < 0)
        return EBADF;
    const ReadLimits limits = ReadLimitsFor(currentTimeouts(), count);
    const ComClock::time_point start = ComClock::now();

    int result = 0;
    ComClock::time_point lastByte{};
    for (;;) {
        ssize_t n;
        {
            std::lock_guard lock(mutex_);
            n = ::read(fd_, buffer + done, count - done);
            if (n > 0)
                consumed_ += static_cast<uint32_t>(n);
        }
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            lastByte = ComClock::now();
            if (done == count || limits.returnOnFirstByte)
                break;
            continue;
        }
        if (n == 0) {  // end of file: the line hung up
            result = EIO;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result = errno;
            break;
        }
        const ComClock::time_point deadline = ReadDeadline(limits, start, done, lastByte);
        if (deadline != ComClock::time_point::max() && ComClock::now() >= deadline)
            break;
        if ((result = awaitReady(fd_, POLLIN, deadline)) != 0)
            break;
    }
    if (done > 0) {
        kick();
        return 0;  // what arrived before a failure is still delivered
    }
    return result;
}

int ComDevicePosix::Write(const char* buffer, uint32_t count, uint32_t& done) {
    done = 0;
    if (fd_ < 0)
        return EBADF;
    const ComClock::time_point deadline = WriteDeadline(currentTimeouts(), count, ComClock::now());
    int result = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            result = errno;
            break;
        }
        if (deadline != ComClock::time_point::max() && ComClock::now() >= deadline)
            break;  // cut short by the time-out
        if ((result = awaitReady(fd_, POLLOUT, deadline)) != 0)
            break;
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

}  // namespace kestrel
