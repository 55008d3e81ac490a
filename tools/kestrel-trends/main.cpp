// kestrel-trends [PATH]: the trend window on an archive folder (the one
// holding Telemetry/, or Telemetry/ or its Decoded/ folder), one
// BeaconTextLog or a beacon CSV (default: the current directory).

#include "plot/TrendFiles.h"
#include "station/CommandLine.h"
#include "trends/TrendWindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

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
                "Usage: kestrel-trends [PATH]\n\n"
                "Shows battery voltage, currents, temperatures and magnetic field of the\n"
                "beacons against their receive time (UTC), and their GPS positions on a\n"
                "world map. PATH is a station folder (the one holding Telemetry/; every\n"
                "BeaconTextLog below Telemetry/Decoded is read), one BeaconTextLog, or a\n"
                "CSV written by kestrel-redecode --csv. It defaults to the current\n"
                "directory. The station's position comes from the [Share] section of\n"
                "RS232Settings.ini in the station folder, when it has one.\n\n"
                "  -h, --help   show this help\n"
                "  --version    show the version");
            return 0;
        }
    }
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() > 2) {
        std::fputs("kestrel-trends: give at most one folder or file; see --help\n", stderr);
        return 2;
    }
    const QString path = args.size() == 2 ? args[1] : QDir::currentPath();
    kestrel::TTrendWindow window;
    if (QFileInfo(path).isDir())
        window.openArchive(path);
    else
        window.openLog(path);
    window.setStation(
        kestrel::plot::stationPositionIn(kestrel::plot::stationFolderOf(std::filesystem::path(path.toStdU16String()))));
    window.show();
    return app.exec();
}
