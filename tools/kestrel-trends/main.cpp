// kestrel-trends [PATH]: the trend window on an archive folder (the one
// holding Telemetry/, or Telemetry/ or its Decoded/ folder), one
// BeaconTextLog or a beacon CSV (default: the current directory).

#include "station/CommandLine.h"
#include "trends/TrendWindow.h"

#include <QApplication>
#include <QDir>

#include <clocale>
#include <cstdio>

int main(int argc, char** argv) {
    std::string path;
    const kestrel::CommandLineAnswer answer =
        kestrel::ReadTrendsCommandLine(std::vector<std::string>(argv + 1, argv + argc), path);
    if (answer.kind != kestrel::CommandLineAnswer::Run) {
        std::fputs(answer.text.c_str(), answer.exitCode == 0 ? stdout : stderr);
        return answer.exitCode;
    }
    QApplication app(argc, argv);
    // One number format, as the decoder has: Qt took the user's locale, and
    // with it a decimal comma for the C library's number texts.
    std::setlocale(LC_NUMERIC, "C");
    const QString where = path.empty() ? QDir::currentPath() : QString::fromLocal8Bit(path.c_str());
    kestrel::TTrendWindow window;
    window.open(where);
    window.show();
    return app.exec();
}
