// The KISS TCP line's socket on Windows: a non-blocking Winsock client socket,
// WSAEventSelect and an event to wake the wait.

#include "kiss/TcpStream.h"

#include "Utf16Win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>
#include <stdexcept>

namespace kestrel {
namespace {

void startWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("WSAStartup failed");
    });
}

// Network events are edge-like on Windows (FD_READ and FD_WRITE come again
// only after a call found nothing to read or no room), so the readiness they
// report is kept here until a call runs into WSAEWOULDBLOCK.
class TcpStreamWin32 final : public TcpStream {
public:
    TcpStreamWin32() {
        startWinsock();
        socketEvent_ = WSACreateEvent();
        wakeEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (socketEvent_ == WSA_INVALID_EVENT || !wakeEvent_)
            throw std::runtime_error("CreateEvent failed");
    }
    ~TcpStreamWin32() override {
        Disconnect();
        WSACloseEvent(socketEvent_);
        CloseHandle(wakeEvent_);
    }

    int BeginConnect(const std::string& host, int port) override {
        Disconnect();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        const std::string service = std::to_string(port);
        const int r = getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses_);
        if (r != 0) {
            addresses_ = nullptr;
            return r;
        }
        next_ = addresses_;
        return startNext();
    }

    bool TryNextAddress() override {
        closeSocket();
        return next_ && startNext() == 0;
    }

    int ConnectResult() override {
        if (socket_ == INVALID_SOCKET)
            return WSAENOTSOCK;
        if (connectError_ == 0)
            connecting_ = false;
        return connectError_;
    }

    void Disconnect() override {
        closeSocket();
        if (addresses_)
            freeaddrinfo(addresses_);
        addresses_ = next_ = nullptr;
    }

    unsigned Wait(bool wantRead, bool wantWrite, int timeoutMs) override {
        unsigned ready = readyNow(wantRead, wantWrite);
        WSAEVENT events[2] = {wakeEvent_, socketEvent_};
        const DWORD count = socket_ != INVALID_SOCKET ? 2 : 1;
        const DWORD r = WSAWaitForMultipleEvents(count, events, FALSE,
                                                 ready           ? 0
                                                 : timeoutMs < 0 ? WSA_INFINITE
                                                                 : static_cast<DWORD>(timeoutMs),
                                                 FALSE);
        unsigned result = 0;
        // The wake event resets itself when the wait returns on it.
        if (r == WSA_WAIT_EVENT_0)
            result |= kWoken;
        if (count == 2) {
            WSANETWORKEVENTS ne{};
            if (WSAEnumNetworkEvents(socket_, socketEvent_, &ne) == 0) {
                if (ne.lNetworkEvents & FD_CONNECT) {
                    connectError_ = ne.iErrorCode[FD_CONNECT_BIT];
                    connectDone_ = true;
                    writable_ = connectError_ == 0;
                }
                if (ne.lNetworkEvents & (FD_READ | FD_CLOSE))
                    readable_ = true;
                if (ne.lNetworkEvents & FD_WRITE)
                    writable_ = true;
            }
        }
        return result | readyNow(wantRead, wantWrite);
    }

    void Wake() override { SetEvent(wakeEvent_); }

    IoResult Receive(char* buffer, std::size_t size) override {
        IoResult r;
        const int n = recv(socket_, buffer, static_cast<int>(size), 0);
        if (n > 0) {
            r.bytes = static_cast<std::size_t>(n);
        } else if (n < 0) {
            const int e = WSAGetLastError();
            if (e == WSAEWOULDBLOCK) {
                r.again = true;
                readable_ = false;
            } else {
                r.error = e;
            }
        }
        return r;
    }

    IoResult Send(const char* data, std::size_t size) override {
        IoResult r;
        const int n = send(socket_, data, static_cast<int>(size), 0);
        if (n >= 0) {
            r.bytes = static_cast<std::size_t>(n);
        } else {
            const int e = WSAGetLastError();
            if (e == WSAEWOULDBLOCK) {
                r.again = true;
                writable_ = false;
            } else {
                r.error = e;
            }
        }
        return r;
    }

    std::string ErrorText(int error) override {
        const std::string text = windowsMessage(static_cast<DWORD>(error));
        return text.empty() ? "error " + std::to_string(error) : text;
    }

    int TimedOutError() override { return WSAETIMEDOUT; }

private:
    unsigned readyNow(bool wantRead, bool wantWrite) const {
        if (socket_ == INVALID_SOCKET)
            return 0;
        if (connecting_)
            return connectDone_ ? kWritable : 0;
        return (wantRead && readable_ ? kReadable : 0) | (wantWrite && writable_ ? kWritable : 0);
    }

    int startNext() {
        int error = WSAEHOSTUNREACH;
        while (next_) {
            const addrinfo* a = next_;
            next_ = next_->ai_next;
            socket_ = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (socket_ == INVALID_SOCKET) {
                error = WSAGetLastError();
                continue;
            }
            const BOOL on = TRUE;
            setsockopt(socket_, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
            setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            // Also makes the socket non-blocking.
            if (WSAEventSelect(socket_, socketEvent_, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
                error = WSAGetLastError();
                closeSocket();
                continue;
            }
            connecting_ = true;
            connectDone_ = false;
            connectError_ = 0;
            if (connect(socket_, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
                connectDone_ = true;
                return 0;
            }
            error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK)
                return 0;
            closeSocket();
        }
        return error;
    }

    void closeSocket() {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        socket_ = INVALID_SOCKET;
        WSAResetEvent(socketEvent_);
        connecting_ = connectDone_ = readable_ = writable_ = false;
        connectError_ = 0;
    }

    WSAEVENT socketEvent_;
    HANDLE wakeEvent_;
    SOCKET socket_ = INVALID_SOCKET;
    bool connecting_ = false, connectDone_ = false, readable_ = false, writable_ = false;
    int connectError_ = 0;
    addrinfo* addresses_ = nullptr;
    addrinfo* next_ = nullptr;
};

}  // namespace

std::unique_ptr<TcpStream> CreateTcpStream() { return std::make_unique<TcpStreamWin32>(); }

}  // namespace kestrel
