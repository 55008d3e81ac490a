#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window as the operator would. The
// signal handler only writes a byte into a pipe; a socket notifier on the main
// thread turns it into a close of the window, so shut-down runs in the event
// loop like any other close. The handlers are taken over first thing in
// main(): a signal that comes before the window exists waits in the pipe
// until the window's closer picks it up.

#include <QObject>

class QWidget;
class QSocketNotifier;

namespace kestrel {

class TSignalCloser : public QObject {
public:
    // Installs the handlers; window is closed on the first signal.
    explicit TSignalCloser(QWidget* window);
    // Installs the handlers with no window yet, and lets the three signals
    // through should the program have been started with them blocked. Safe
    // to call more than once.
    static void TakeOverSignals();
    ~TSignalCloser() override;

private:
    QWidget* window_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kestrel
