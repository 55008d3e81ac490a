// Makes docs/trends.png: four passes of the simulated satellite an orbit
// apart, recorded the way the station records them (the bytes handed to the
// archive chunk by chunk, the time index told each chunk's time), decoded
// again with kestrel-redecode's own code, and shown in the trend window.
//
//   QT_QPA_PLATFORM=offscreen build/tests/make_trends_picture docs/trends.png

#include "Redecode.h"
#include "SimBeacons.h"

#include "support/Files.h"
#include "telemetry/Archive.h"
#include "telemetry/TimeIndex.h"
#include "trends/TrendWindow.h"

#include <QApplication>

#include <cstdio>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

class SteppingClock final : public IClock {
public:
    std::int64_t ms = 0;
    SystemTime utcNow() override { return utcFromMilliseconds(ms); }
    SystemTime localNow() override { return utcNow(); }
    SystemTime localTime(const SystemTime& utc) override { return utc; }
    std::uint32_t tickCount() override { return static_cast<std::uint32_t>(ms); }
};

constexpr int kPasses = 4;
constexpr std::int64_t kOrbitMs = 95 * 60'000;
constexpr int kBeaconsPerPass = 66;  // 11 minutes, one every 10 s
constexpr std::int64_t kBeaconMs = 10'000;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_trends_picture OUT.png\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    test::ScratchDir work("kestrel-trends-picture");

    SteppingClock clock;
    const std::int64_t start = utcMilliseconds({2026, 12, 2, 8, 5, 40, 0, 0});
    clock.ms = start;
    Archive archive(systemFileSystem(), clock);
    archive.openRunFiles((work / "station").string());
    sim::BeaconSource source({.seed = 3, .noiseBytes = 40});
    for (int pass = 0; pass < kPasses; ++pass)
        for (int b = 0; b < kBeaconsPerPass; ++b) {
            const std::int64_t sent = pass * kOrbitMs + b * kBeaconMs + (b % 3) * 700;
            const std::string bytes = source.nextTransmission(static_cast<double>(sent) / 1000).bytes;
            // 1200 baud: a 48-byte chunk every 400 ms.
            for (std::size_t at = 0; at < bytes.size(); at += 48) {
                clock.ms = start + sent + static_cast<std::int64_t>(at / 48) * 400;
                archive.noteReadTime();
                for (std::size_t i = at; i < std::min(bytes.size(), at + 48); ++i)
                    archive.appendRawByte(static_cast<std::uint8_t>(bytes[i]));
            }
        }
    archive.closeRawByteLog();

    redecode::Sinks sinks;
    sinks.outDir = (work / "again").string();
    sinks.times = parseTimeIndex(test::readFile(archive.TimeIndexPath())).entries;
    const redecode::Summary s = redecode::redecodeRawByteLog(archive.RawByteLogPath(), archive.UtcStamp(), sinks);
    std::printf("%llu beacons from %zu time index entries\n", static_cast<unsigned long long>(s.beacons),
                sinks.times.size());

    TTrendWindow window;
    window.resize(1200, 800);
    window.openArchive(QString::fromStdString(sinks.outDir));
    window.show();
    app.processEvents();
    return window.savePng(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
