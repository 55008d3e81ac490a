#pragma once
// One TCP client connection as KissTcpClient's reader thread drives it, with a
// wake signal its wait also returns on. TcpStreamPosix.cpp implements it with
// poll() and an eventfd, TcpStreamWin32.cpp with WSAEventSelect and an event.
//
// Threads: only the reader thread calls it, except Wake(), which any thread
// may call at any time.

#include <cstddef>
#include <memory>
#include <string>

namespace kestrel {

class TcpStream {
public:
    virtual ~TcpStream() = default;

    // Resolves host and starts a non-blocking connect to its first address:
    // 0, or the OS error (a resolver failure included). Completion shows as
    // kWritable from Wait(), then ConnectResult() tells.
    virtual int BeginConnect(const std::string& host, int port) = 0;
    // After a failed connect: starts with the next address; false when none is left.
    virtual bool TryNextAddress() = 0;
    // 0 once the connect has succeeded, or its OS error.
    virtual int ConnectResult() = 0;
    // Closes the socket, if any.
    virtual void Disconnect() = 0;

    static constexpr unsigned kReadable = 1, kWritable = 2, kWoken = 4;
    // Waits until the socket is readable (wantRead; a peer that closed or
    // reset counts as readable), writable (wantWrite, or while connecting),
    // Wake() was called, or timeoutMs passed (-1: no limit). Returns the k...
    // bits that hold, 0 after a time-out; a wake is consumed. Without a
    // socket only the wake signal and the time-out count.
    virtual unsigned Wait(bool wantRead, bool wantWrite, int timeoutMs) = 0;
    virtual void Wake() = 0;

    struct IoResult {
        std::size_t bytes = 0;
        bool again = false;  // nothing to read / no room to send now
        int error = 0;       // the OS error; 0 with 0 bytes received: the peer closed
    };
    virtual IoResult Receive(char* buffer, std::size_t size) = 0;
    virtual IoResult Send(const char* data, std::size_t size) = 0;

    // The OS's text for an error of the calls above.
    virtual std::string ErrorText(int error) = 0;
    // The error ConnectResult() would give for a connect that took too long.
    virtual int TimedOutError() = 0;
};

std::unique_ptr<TcpStream> CreateTcpStream();

}  // namespace kestrel
