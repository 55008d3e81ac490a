// SIGTERM, SIGINT and SIGHUP turned into a close of the main window through a
// pipe and a socket notifier (see SignalClose.h).

#include "gui/SignalClose.h"

#include "station/Report.h"

#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kestrel {

namespace {
int gPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(gPipe[1], &b, 1);
    errno = saved;
}
}  // namespace

void TSignalCloser::TakeOverSignals() {
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        gPipe[0] = gPipe[1] = -1;
        return;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigset_t ours;
    sigemptyset(&ours);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(sig, &sa, nullptr);
        sigaddset(&ours, sig);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
}

TSignalCloser::TSignalCloser(QWidget* window) : window_(window) {
    TakeOverSignals();
    if (gPipe[0] < 0)
        return;
    // A signal that came before us is already in the pipe: the notifier
    // reports it as soon as the event loop runs.
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buf[64];
        while (::read(gPipe[0], buf, sizeof buf) > 0) {
        }
        // As the operator would close it; the window's close dismisses a box
        // that is up first (Station::closeRequested).
        Guarded([this] { window_->close(); });
    });
}

TSignalCloser::~TSignalCloser() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

}  // namespace kestrel
