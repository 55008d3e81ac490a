#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window as the operator would. The
// signal handler only writes a byte into a pipe; a socket notifier on the main
// thread turns it into a close of the window, so shut-down runs in the event
// loop like any other close.

#include <QObject>

class QWidget;
class QSocketNotifier;

namespace kestrel {

class TSignalCloser : public QObject {
public:
    // Installs the handlers; window is closed on the first signal.
    explicit TSignalCloser(QWidget* window);
    ~TSignalCloser() override;

private:
    QWidget* window_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kestrel
