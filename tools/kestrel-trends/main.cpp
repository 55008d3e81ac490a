// kestrel-trends [ARCHIVE_DIR]: the trend window on the BeaconTextLogs of an
// archive folder (the one holding Telemetry/; default: the current directory).

#include "station/CommandLine.h"
#include "trends/TrendWindow.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(kestrel::VersionText("kestrel-trends").c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::puts(
                "Usage: kestrel-trends [ARCHIVE_DIR]\n\n"
                "Shows battery voltage, currents, temperatures and magnetic field of the\n"
                "beacons in every BeaconTextLog below ARCHIVE_DIR/Telemetry/Decoded against\n"
                "their receive time (UTC). ARCHIVE_DIR defaults to the current directory.\n\n"
                "  -h, --help   show this help\n"
                "  --version    show the version");
            return 0;
        }
    }
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() > 2) {
        std::fputs("kestrel-trends: give at most one archive folder; see --help\n", stderr);
        return 2;
    }
    const QString dir = args.size() == 2 ? args[1] : QDir::currentPath();
    kestrel::TTrendWindow window;
    window.openArchive(dir);
    window.show();
    return app.exec();
}
