#pragma once
// Pseudo-terminals, POSIX only: a pair whose far end the test holds, and the
// decoder's end of a line that someone else made.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>

namespace kestrel::test {

// Reads from fd until want bytes came or limit passed; a zero limit takes what
// is there.
inline std::string readFor(int fd, std::size_t want, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < want) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) > 0) {
            char buf[4096];
            const ssize_t n = ::read(fd, buf, std::min(sizeof buf, want - got.size()));
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
                continue;
            }
        }
        if (left.count() <= 0)
            break;
    }
    return got;
}

// Plays the decoder: opens a terminal and sets it the way a port does.
inline int openAsDecoder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// A raw pseudo-terminal: the port (or the program) opens PortName(), the test
// talks through the other end.
class Pty {
public:
    Pty() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        name_ = name;
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    }
    ~Pty() {
        HangUp();
        ::close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& PortName() const { return name_; }
    // The port's side, held open so that the line stays up between opens; for
    // looking at its line settings.
    int PortSide() const { return slave_; }

    void Send(const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                throw std::runtime_error("pty write failed");
            }
        }
    }

    // Up to count bytes, waiting at most limit for them all; by default what
    // the port has written so far.
    std::string Receive(std::size_t count = std::string::npos, std::chrono::milliseconds limit = {}) {
        return readFor(master_, count, limit);
    }

    // The far end goes away (cable pulled): the port's side hangs up.
    void HangUp() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

}  // namespace kestrel::test
