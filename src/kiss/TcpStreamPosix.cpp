// The KISS TCP line's socket on Linux: a non-blocking client socket, poll()
// and an eventfd to wake the wait.

#include "kiss/TcpStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {
namespace {

class TcpStreamPosix final : public TcpStream {
public:
    TcpStreamPosix() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (wakeFd_ < 0)
            throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    }
    ~TcpStreamPosix() override {
        Disconnect();
        ::close(wakeFd_);
    }

    int BeginConnect(const std::string& host, int port) override {
        Disconnect();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        const std::string service = std::to_string(port);
        const int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses_);
        if (r != 0) {
            addresses_ = nullptr;
            return r == EAI_SYSTEM && errno ? errno : EHOSTUNREACH;
        }
        next_ = addresses_;
        return startNext();
    }

    bool TryNextAddress() override {
        closeSocket();
        return next_ && startNext() == 0;
    }

    int ConnectResult() override {
        if (fd_ < 0)
            return EBADF;
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
            return errno;
        if (error == 0)
            connecting_ = false;
        return error;
    }

    void Disconnect() override {
        closeSocket();
        if (addresses_)
            ::freeaddrinfo(addresses_);
        addresses_ = next_ = nullptr;
    }

    unsigned Wait(bool wantRead, bool wantWrite, int timeoutMs) override {
        pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
        if (connecting_)
            p[1].events = POLLOUT;
        else
            p[1].events = static_cast<short>((wantRead ? POLLIN : 0) | (wantWrite ? POLLOUT : 0));
        const nfds_t n = fd_ >= 0 && p[1].events ? 2 : 1;
        if (::poll(p, n, timeoutMs) <= 0)
            return 0;
        unsigned result = 0;
        if (p[0].revents & POLLIN) {
            eventfd_t ignored;
            (void)::eventfd_read(wakeFd_, &ignored);
            result |= kWoken;
        }
        if (n == 2) {
            const short broken = POLLERR | POLLHUP;
            if (connecting_) {
                if (p[1].revents & (POLLOUT | broken))
                    result |= kWritable;
            } else {
                if (wantRead && (p[1].revents & (POLLIN | broken)))
                    result |= kReadable;
                if (wantWrite && (p[1].revents & (POLLOUT | broken)))
                    result |= kWritable;
            }
        }
        return result;
    }

    void Wake() override { (void)::eventfd_write(wakeFd_, 1); }

    IoResult Receive(char* buffer, std::size_t size) override {
        IoResult r;
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n > 0)
            r.bytes = static_cast<std::size_t>(n);
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            r.again = true;
        else if (n < 0)
            r.error = errno;
        return r;
    }

    IoResult Send(const char* data, std::size_t size) override {
        IoResult r;
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n >= 0)
            r.bytes = static_cast<std::size_t>(n);
        else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            r.again = true;
        else
            r.error = errno;
        return r;
    }

    std::string ErrorText(int error) override {
        char buf[256];
        // The GNU strerror_r, which may or may not use buf.
        return ::strerror_r(error, buf, sizeof buf);
    }

    int TimedOutError() override { return ETIMEDOUT; }

private:
    int startNext() {
        int error = EHOSTUNREACH;
        while (next_) {
            const addrinfo* a = next_;
            next_ = next_->ai_next;
            fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd_ < 0) {
                error = errno;
                continue;
            }
            // A peer gone without a word (a cable, a sleeping host) shows in the end;
            // a KISS frame goes out at once.
            const int on = 1;
            (void)::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
            (void)::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (::connect(fd_, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
                connecting_ = true;
                return 0;
            }
            error = errno;
            closeSocket();
        }
        return error;
    }

    void closeSocket() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        connecting_ = false;
    }

    int wakeFd_;
    int fd_ = -1;
    bool connecting_ = false;
    addrinfo* addresses_ = nullptr;
    addrinfo* next_ = nullptr;
};

}  // namespace

std::unique_ptr<TcpStream> CreateTcpStream() { return std::make_unique<TcpStreamPosix>(); }

}  // namespace kestrel
