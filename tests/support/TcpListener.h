#pragma once
// The software TNC's side of a KISS-over-TCP line in tests (POSIX sockets).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrel::test {

// A listening socket on 127.0.0.1 (an ephemeral port unless given one), and
// the one client it accepted.
class Listener {
public:
    explicit Listener(int port = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0)
            throw std::runtime_error("cannot listen");
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        dropClient();
        ::close(fd_);
    }
    int port() const { return port_; }

    // Without waiting: the line's thread needs the test's thread to take its
    // deliveries meanwhile.
    bool accept() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) != 1)
            return false;
        client_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
    void send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    // What the client has sent so far, without waiting.
    std::string receiveSome() {
        char buf[256];
        const ssize_t n = ::recv(client_, buf, sizeof buf, MSG_DONTWAIT);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    // reset: go away with an RST instead of an orderly close.
    void dropClient(bool reset = false) {
        if (client_ < 0)
            return;
        if (reset) {
            linger l{1, 0};
            ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(client_);
        client_ = -1;
    }

private:
    int fd_ = -1;
    int client_ = -1;
    int port_ = 0;
};

}  // namespace kestrel::test
