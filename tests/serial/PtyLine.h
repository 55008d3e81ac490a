#pragma once
// The far end of a serial line for the port tests: a pseudo-terminal whose
// slave side the port opens while the test talks through the master side.
// Everything specific to pseudo-terminals lives here, so that the same tests
// can run against another kind of line pair.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace kestrel::test {

class PtyLine {
public:
    PtyLine() {
        termios raw{};
        cfmakeraw(&raw);
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
        name_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    }
    ~PtyLine() {
        HangUp();
        if (slave_ >= 0) ::close(slave_);
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // The name the port opens.
    const std::string& PortName() const { return name_; }
    // A descriptor of the port's own side, for looking at its line settings.
    int PortSide() const { return slave_; }

    void Send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    // Up to `count` bytes, waiting at most `limit` for them all.
    std::string Receive(std::size_t count, std::chrono::milliseconds limit) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count) {
            char buf[4096];
            const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                    std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        }
        return got;
    }

    // The peer goes away (cable pulled): the port's side hangs up.
    void HangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

}  // namespace kestrel::test
