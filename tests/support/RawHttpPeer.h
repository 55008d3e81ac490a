#pragma once
// A misbehaving HTTP server for the transport tests, on Winsock or POSIX
// sockets alike, so the same cases run against libcurl here and WinHTTP under
// Wine: it reads each request's head and body, notes its first line, then
// answers as told, one connection per thread.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {

class RawHttpPeer {
public:
    enum class Mode {
        Silent,    // reads the request, never answers
        Trickle,   // a 201 whose bytes come 100 ms apart
        Redirect,  // `status` (301, 302, 307) to another path
        Huge,      // a 400 with a 100 MB body
        Created,   // a plain 201
        Cut,       // a 201 with a Date, whose body breaks off
        Proxy,     // a proxy answering `status` to every request, CONNECT too
        Pac,       // a proxy setup script: `text`
    };

    explicit RawHttpPeer(Mode mode, int status = 0, bool ipv6 = false, std::string text = {})
        : mode_(mode), status_(status), text_(std::move(text)) {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_storage a{};
        socklen_t len;
        if (ipv6) {
            auto* a6 = reinterpret_cast<sockaddr_in6*>(&a);
            a6->sin6_family = AF_INET6;
            a6->sin6_addr = in6addr_loopback;
            len = sizeof *a6;
        } else {
            auto* a4 = reinterpret_cast<sockaddr_in*>(&a);
            a4->sin_family = AF_INET;
            a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof *a4;
        }
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listener_, 8) != 0)
            throw std::runtime_error("the test peer cannot listen");
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ =
            ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
        host_ = ipv6 ? "[::1]" : "127.0.0.1";
        acceptor_ = std::thread([this] { run(); });
    }

    ~RawHttpPeer() {
        stop_ = true;
        closeSocket(listener_);
        acceptor_.join();
        {
            std::lock_guard lock(mutex_);
            for (auto s : open_)
                closeSocket(s);
        }
        for (auto& t : served_)
            t.join();
    }

    std::string url() const { return "http://" + hostPort() + "/api/telemetry/"; }
    std::string hostPort() const { return host_ + ":" + std::to_string(port_); }
    // The first line of each request, in order ("POST /api/telemetry/ HTTP/1.1").
    std::vector<std::string> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
#ifdef _WIN32
    using Socket = SOCKET;
    static void closeSocket(Socket s) { ::closesocket(s); }
#else
    using Socket = int;
    static void closeSocket(Socket s) {
        ::shutdown(s, SHUT_RDWR);
        ::close(s);
    }
#endif

    void run() {
        while (!stop_) {
            const Socket s = ::accept(listener_, nullptr, nullptr);
            if (stop_ || s == Socket(-1))
                break;
            std::lock_guard lock(mutex_);
            open_.push_back(s);
            served_.emplace_back([this, s] { serve(s); });
        }
    }

    bool sendAll(Socket s, const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
#ifdef _WIN32
            const int n = ::send(s, bytes.data() + done, int(bytes.size() - done), 0);
#else
            const int n = int(::send(s, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL));
#endif
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

    void serve(Socket s) {
        std::string in;
        char buf[4096];
        std::size_t headEnd;
        while ((headEnd = in.find("\r\n\r\n")) == std::string::npos) {
            const int n = int(::recv(s, buf, sizeof buf, 0));
            if (n <= 0)
                return;
            in.append(buf, std::size_t(n));
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(in.substr(0, in.find("\r\n")));
        }
        using namespace std::chrono_literals;
        switch (mode_) {
        case Mode::Silent:
            while (!stop_)
                std::this_thread::sleep_for(20ms);
            return;
        case Mode::Trickle:
            for (char c : std::string("HTTP/1.1 201 Created\r\nContent-Length: 400\r\n\r\n") + std::string(400, 'x')) {
                if (stop_ || !sendAll(s, std::string(1, c)))
                    return;
                std::this_thread::sleep_for(100ms);
            }
            return;
        case Mode::Redirect:
            sendAll(s, "HTTP/1.1 " + std::to_string(status_) +
                           " Elsewhere\r\nLocation: /api/moved/\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        case Mode::Huge: {
            const std::size_t size = std::size_t(100) << 20;
            if (!sendAll(s, "HTTP/1.1 400 Bad Request\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n"))
                return;
            const std::string chunk(65536, 'y');
            for (std::size_t sent = 0; sent < size && !stop_; sent += chunk.size())
                if (!sendAll(s, chunk))
                    return;  // the client went away
            return;
        }
        case Mode::Created:
            sendAll(s, "HTTP/1.1 201 Created\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
            return;
        case Mode::Proxy:
            sendAll(s, "HTTP/1.1 " + std::to_string(status_) +
                           " Proxy Answer\r\nProxy-Authenticate: Basic realm=\"station\"\r\nContent-Length: 0\r\n"
                           "Connection: close\r\n\r\n");
            ::shutdown(s, 2);
            return;
        case Mode::Pac:
            sendAll(s, "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\nContent-Length: " +
                           std::to_string(text_.size()) + "\r\nConnection: close\r\n\r\n" + text_);
            ::shutdown(s, 2);
            return;
        case Mode::Cut:
            sendAll(s,
                    "HTTP/1.1 201 Created\r\nDate: Wed, 09 Dec 2026 08:57:00 GMT\r\nContent-Length: 100\r\n"
                    "Connection: close\r\n\r\n{\"id\": ");
            ::shutdown(s, 2);  // both ways, on either system
            return;
        }
    }

    const Mode mode_;
    const int status_;
    const std::string text_;
    Socket listener_;
    int port_ = 0;
    std::string host_;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<Socket> open_;
    std::vector<std::thread> served_;
    std::vector<std::string> requests_;
};

}  // namespace kestrel::test
