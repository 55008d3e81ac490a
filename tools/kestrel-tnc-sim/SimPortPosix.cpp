#include "SimPort.h"

#include "serial/LineSpeedPosix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace kestrel::sim {

namespace {

// The slave starts at this unusual rate; the decoder setting its own rate is
// how the simulator notices that the program has opened the port.
constexpr speed_t kUnconfiguredSpeed = B50;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void makeRaw(int fd, speed_t speed) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) fail("tcgetattr");
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) fail("tcsetattr");
}

}  // namespace

SimPort SimPort::createPty() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) fail("posix_openpt");
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        int e = errno;
        close(master);
        errno = e;
        fail("grantpt/unlockpt");
    }
    char name[256];
    if (ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        fail("ptsname");
    }
    int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        close(master);
        fail(std::string("open ") + name);
    }
    makeRaw(slave, kUnconfiguredSpeed);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return SimPort(master, slave, name);
}

SimPort SimPort::openDevice(const std::string& path, int baud) {
    if (baud <= 0) throw std::runtime_error("unsupported baud rate " + std::to_string(baud));
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fail("open " + path);
    try {
        makeRaw(fd, B9600);
        if (const int e = SetLineSpeed(fd, static_cast<std::uint32_t>(baud))) {
            errno = e;
            fail("setting " + std::to_string(baud) + " baud on " + path);
        }
    } catch (...) {
        close(fd);
        throw;
    }
    return SimPort(fd, -1, path);
}

SimPort::SimPort(SimPort&& o) noexcept : fd_(o.fd_), slaveFd_(o.slaveFd_), portName_(std::move(o.portName_)) {
    o.fd_ = -1;
    o.slaveFd_ = -1;
}

SimPort::~SimPort() {
    if (slaveFd_ >= 0) close(slaveFd_);
    if (fd_ >= 0) close(fd_);
}

bool SimPort::peerConfigured() const {
    if (slaveFd_ < 0) return true;
    termios t{};
    if (tcgetattr(slaveFd_, &t) != 0) return false;
    return cfgetospeed(&t) != kUnconfiguredSpeed || cfgetispeed(&t) != kUnconfiguredSpeed;
}

std::size_t SimPort::writeSome(const void* data, std::size_t size) {
    ssize_t n;
    do n = ::write(fd_, data, size);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        fail("write " + portName_);
    }
    return static_cast<std::size_t>(n);
}

bool SimPort::drain(int timeoutMs) const {
    if (slaveFd_ < 0) return tcdrain(fd_) == 0;
    // Bytes written to the master reach the slave's queue a moment later, so
    // the queue must be seen empty twice in a row.
    int emptySeen = 0;
    for (int waited = 0;; waited += 20) {
        int queued = 0;
        if (ioctl(slaveFd_, TIOCINQ, &queued) != 0) return true;
        emptySeen = queued == 0 ? emptySeen + 1 : 0;
        if (emptySeen == 2) return true;
        if (waited >= timeoutMs) return false;
        poll(nullptr, 0, 20);
    }
}

std::size_t SimPort::readSome(void* data, std::size_t size) {
    ssize_t n;
    do n = ::read(fd_, data, size);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        // EIO: no slave open, which cannot happen while the simulator holds one.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EIO) return 0;
        fail("read " + portName_);
    }
    return static_cast<std::size_t>(n);
}

std::string writeSettingsIni(const std::string& dir, const std::string& port, int baud) {
    std::string path = dir + "/RS232Settings.ini";
    std::string text = "[CPort]\r\nPort=" + port + "\r\nBaudRate=" + std::to_string(baud) +
                       "\r\nStopBits=1\r\nDataBits=8\r\nParity=None\r\nFlowControl=None\r\n";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) fail("cannot write " + path);
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) fail("cannot write " + path);
    return path;
}

}  // namespace kestrel::sim
