// Project1: the program entry. Creates the main window (which runs start-up)
// and runs the event loop until the window is closed.

#include "CP_Main.h"
#include "gui/Application.h"
#include "gui/SignalClose.h"

int main(int argc, char** argv) {
    // Before anything else, so that a signal during start-up still ends in an
    // orderly shut-down (settings stored) rather than in death by the signal.
    kestrel::TSignalCloser::TakeOverSignals();
    kestrel::TApplication application(argc, argv);
    kestrel::TApplication::setApplicationName(QStringLiteral("kestrel-decoder"));
    kestrel::TForm1 Form1;
    if (Form1.Closed())  // a signal during start-up already closed it
        return 0;
    Form1.show();
    return kestrel::TApplication::exec();
}
