// Project1: the program entry. Creates the main window (which runs start-up)
// and runs the event loop until the window is closed.

#include "CP_Main.h"
#include "gui/Application.h"
#include "gui/SignalClose.h"
#include "station/CommandLine.h"
#include "station/StationFolder.h"

#include <QIcon>

#include <cstdio>

int main(int argc, char** argv) {
    // --help and --version answer before any window, port or file exists.
    const auto answer = kestrel::ReadDecoderCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (answer.kind != kestrel::CommandLineAnswer::Run) {
        std::fputs(answer.text.c_str(), answer.exitCode == 0 ? stdout : stderr);
        return answer.exitCode;
    }
    if (answer.stationFolder)
        kestrel::EnterPersonalStationFolder();  // what fails is reported at start-up
    // Before anything else, so that a signal during start-up still ends in an
    // orderly shut-down (settings stored) rather than in death by the signal.
    kestrel::TSignalCloser::TakeOverSignals();
    kestrel::TApplication application(argc, argv);
    kestrel::TApplication::setApplicationName(QStringLiteral("kestrel-decoder"));
    // The desktop entry's name lets Wayland compositors and docks match the
    // window to its menu entry and icon.
    kestrel::TApplication::setDesktopFileName(QStringLiteral("org.example.kestrel.Decoder"));
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/kestrel-decoder-%1.png").arg(size));
    kestrel::TApplication::setWindowIcon(icon);
    kestrel::TForm1 Form1;
    if (Form1.Closed())  // a signal during start-up already closed it
        return 0;
    Form1.show();
    return kestrel::TApplication::exec();
}
