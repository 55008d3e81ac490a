#pragma once
// The far end of a serial line for the port tests on Windows: two COM ports
// wired to each other, the one the port opens and the peer the test talks
// through. The Wine test stage (scripts/test-stages/30-windows.sh) maps both
// ends of a pseudo-terminal pair and names them in KESTREL_TEST_COM_PORT and
// KESTREL_TEST_COM_PEER; without them TestLineUnavailable() says so and the
// tests skip.

#include <windows.h>

#include "support/UnderWine.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kestrel::test {

class TestLine {
public:
    TestLine() {
        const char* port = std::getenv("KESTREL_TEST_COM_PORT");
        const char* peer = std::getenv("KESTREL_TEST_COM_PEER");
        if (!port || !*port || !peer || !*peer) {
            whyNot_ =
                "KESTREL_TEST_COM_PORT and KESTREL_TEST_COM_PEER name no wired COM port pair "
                "(scripts/test-stages/30-windows.sh sets them under Wine)";
            return;
        }
        name_ = port;
        // The line keeps what an earlier test left unread, in the terminals and
        // in the relay between them: drain both ends while the port is free.
        HANDLE own = open(name_);
        if (own == INVALID_HANDLE_VALUE)
            return;
        makeRaw(own);
        drain(own);
        CloseHandle(own);
        peer_ = open(peer);
        if (peer_ == INVALID_HANDLE_VALUE)
            return;
        makeRaw(peer_);
        drain(peer_);
    }
    ~TestLine() {
        if (peer_ != INVALID_HANDLE_VALUE)
            CloseHandle(peer_);
    }
    TestLine(const TestLine&) = delete;
    TestLine& operator=(const TestLine&) = delete;

    bool Ready() const { return peer_ != INVALID_HANDLE_VALUE; }
    const std::string& WhyNotReady() const { return whyNot_; }

    // The name the port opens.
    const std::string& PortName() const { return name_; }

    void Send(const std::string& bytes) {
        COMMTIMEOUTS t{};  // no write time limit
        SetCommTimeouts(peer_, &t);
        DWORD written = 0;
        if (!WriteFile(peer_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size())
            throw std::runtime_error("peer write failed, error " + std::to_string(GetLastError()));
    }

    // Up to `count` bytes, waiting at most `limit` for them all.
    std::string Receive(std::size_t count, std::chrono::milliseconds limit) {
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutConstant = static_cast<DWORD>(limit.count());
        SetCommTimeouts(peer_, &t);
        std::string got(count, '\0');
        DWORD n = 0;
        // Wine fails a read that ran into its timeout with ERROR_TIMEOUT;
        // what arrived counts either way.
        if (!ReadFile(peer_, got.data(), static_cast<DWORD>(count), &n, nullptr) && GetLastError() != ERROR_TIMEOUT)
            throw std::runtime_error("peer read failed, error " + std::to_string(GetLastError()));
        got.resize(n);
        return got;
    }

    // Two COM ports wired together cannot hang up: the hang-up test skips on
    // Windows, and this does nothing.
    void HangUp() {}

private:
    // Reads until the line has been quiet for a moment (bounded).
    static void drain(HANDLE h) {
        PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutConstant = 30;
        SetCommTimeouts(h, &t);
        char buf[4096];
        for (int i = 0; i < 100; ++i) {
            DWORD n = 0;
            if (!ReadFile(h, buf, sizeof buf, &n, nullptr) && GetLastError() != ERROR_TIMEOUT)
                break;
            if (n == 0)
                break;
        }
    }

    HANDLE open(const std::string& name) {
        HANDLE h = CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE)
            whyNot_ = "cannot open " + name + ", error " + std::to_string(GetLastError());
        return h;
    }

    // 9600 8N1, binary, no flow control: bytes pass unchanged.
    static void makeRaw(HANDLE h) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = 9600;
        dcb.fBinary = TRUE;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(h, &dcb);
    }

    std::string name_;
    std::string whyNot_;
    HANDLE peer_ = INVALID_HANDLE_VALUE;
};

inline std::string TestLineUnavailable(const TestLine& line) {
    return line.Ready() ? std::string() : line.WhyNotReady();
}

}  // namespace kestrel::test
