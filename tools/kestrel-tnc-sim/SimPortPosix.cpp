// The simulator's end of the line on Linux: a pseudo-terminal master, a serial
// device, or a one-client TCP port on 127.0.0.1.

#include "SimPort.h"

#include "kiss/LineSource.h"
#include "serial/LineSpeedPosix.h"
#include "serial/ProfileStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace kestrel::sim {

namespace {

// The slave starts at this unusual rate; the decoder setting its own rate is
// how the simulator notices that the program has opened the port.
constexpr speed_t kUnconfiguredSpeed = B50;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

void makeRaw(int fd, speed_t speed) {
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        fail("tcgetattr");
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        fail("tcsetattr");
}

}  // namespace

SimPort SimPort::createPty() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        fail("posix_openpt");
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
    if (baud <= 0)
        throw std::runtime_error("unsupported baud rate " + std::to_string(baud));
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        fail("open " + path);
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

SimPort SimPort::listenTcp(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("socket");
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        fail("listening on 127.0.0.1:" + std::to_string(port));
    }
    SimPort p(-1, -1, "127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    p.listenFd_ = fd;
    p.tcpPort_ = ntohs(a.sin_port);
    return p;
}

SimPort::SimPort(SimPort&& o) noexcept
    : fd_(o.fd_),
      slaveFd_(o.slaveFd_),
      listenFd_(o.listenFd_),
      tcpPort_(o.tcpPort_),
      portName_(std::move(o.portName_)) {
    o.fd_ = -1;
    o.slaveFd_ = -1;
    o.listenFd_ = -1;
}

SimPort::~SimPort() {
    if (slaveFd_ >= 0)
        close(slaveFd_);
    if (fd_ >= 0)
        close(fd_);
    if (listenFd_ >= 0)
        close(listenFd_);
}

void SimPort::dropClient() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool SimPort::peerConfigured() {
    if (listenFd_ >= 0) {
        if (fd_ < 0)
            fd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        return fd_ >= 0;
    }
    if (slaveFd_ < 0)
        return true;
    termios t{};
    if (tcgetattr(slaveFd_, &t) != 0)
        return false;
    return cfgetospeed(&t) != kUnconfiguredSpeed || cfgetispeed(&t) != kUnconfiguredSpeed;
}

std::size_t SimPort::writeSome(const void* data, std::size_t size) {
    ssize_t n;
    if (listenFd_ >= 0) {
        if (fd_ < 0)
            return 0;
        do
            n = ::send(fd_, data, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            dropClient();  // the client went away; peerConfigured() tells
            return 0;
        }
        return n < 0 ? 0 : static_cast<std::size_t>(n);
    }
    do
        n = ::write(fd_, data, size);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        fail("write " + portName_);
    }
    return static_cast<std::size_t>(n);
}

bool SimPort::drain(int timeoutMs) const {
    if (listenFd_ >= 0)
        return true;  // the socket is closed gracefully, with its data
    if (slaveFd_ < 0)
        return tcdrain(fd_) == 0;
    // Bytes written to the master reach the slave's queue a moment later, so
    // the queue must be seen empty twice in a row.
    int emptySeen = 0;
    for (int waited = 0;; waited += 20) {
        int queued = 0;
        if (ioctl(slaveFd_, TIOCINQ, &queued) != 0)
            return true;
        emptySeen = queued == 0 ? emptySeen + 1 : 0;
        if (emptySeen == 2)
            return true;
        if (waited >= timeoutMs)
            return false;
        poll(nullptr, 0, 20);
    }
}

std::size_t SimPort::readSome(void* data, std::size_t size) {
    ssize_t n;
    if (listenFd_ >= 0) {
        if (fd_ < 0)
            return 0;
        do
            n = ::recv(fd_, data, size, 0);
        while (n < 0 && errno == EINTR);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            dropClient();
        return n < 0 ? 0 : static_cast<std::size_t>(n);
    }
    do
        n = ::read(fd_, data, size);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        // EIO: no slave open, which cannot happen while the simulator holds one.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EIO)
            return 0;
        fail("read " + portName_);
    }
    return static_cast<std::size_t>(n);
}

namespace {

ProfileKeys cportKeys(const std::string& port, int baud) {
    return {{"Port", port},     {"BaudRate", std::to_string(baud)},
            {"StopBits", "1"},  {"DataBits", "8"},
            {"Parity", "None"}, {"FlowControl", "None"}};
}

// Points the decoder at the line: the keys the simulator owns are set in one
// replacement of the file (a reader never finds it half written); every
// other section, key and comment of a station's settings file stays.
std::string writeIni(const std::string& dir, const ProfileKeys* cport, LineSourceSettings::Kind kind, int tcpPort) {
    const std::string path = dir + "/RS232Settings.ini";
    const std::unique_ptr<ProfileStore> store = CreateProfileStore();
    if (const std::string why = store->WhyUnreadable(path); !why.empty())
        throw std::runtime_error(path + " " + why + "; it is left as it is");
    LineSourceSettings line;
    line.Load(*store, path);
    line.kind = kind;
    if (kind == LineSourceSettings::KissTcp) {
        line.host = "127.0.0.1";
        line.port = tcpPort;
    }
    ProfileSections sections;
    if (cport)
        sections.emplace_back("CPort", *cport);
    if (line.NeedsWriting())
        sections.emplace_back(LineSourceSettings::kSection, line.Keys());
    if (!store->WriteSections(path, sections))
        fail("cannot write " + path);
    return path;
}

}  // namespace

std::string writeSettingsIni(const std::string& dir, const std::string& port, int baud) {
    const ProfileKeys cport = cportKeys(port, baud);
    return writeIni(dir, &cport, LineSourceSettings::Serial, 0);
}

std::string writeKissSettingsIni(const std::string& dir, const SimPort& port, int baud) {
    if (port.isTcp())
        return writeIni(dir, nullptr, LineSourceSettings::KissTcp, port.tcpPort());
    const ProfileKeys cport = cportKeys(port.portName(), baud);
    return writeIni(dir, &cport, LineSourceSettings::SerialKiss, 0);
}

}  // namespace kestrel::sim
