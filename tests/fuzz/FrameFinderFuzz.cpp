// Arbitrary bytes through the receive path: frame finder, decoder and archive
// on an in-memory file system. Beyond the sanitizers it checks that every byte
// reaches the RawByteLog unaltered, that the ReceiveBuffer stays in bounds and
// that each decoded beacon leaves one text line and one RawFrameFile.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "telemetry/Archive.h"
#include "telemetry/Decoder.h"
#include "telemetry/FrameFinder.h"
#include "telemetry/InOutError.h"
#include "support/Fixtures.h"
#include "support/MemoryFileSystem.h"

namespace {

using namespace kestrel;

void check(bool ok) {
    if (!ok)
        std::abort();
}

using test::MemoryFileSystem;

class ReceivePath final {
public:
    MemoryFileSystem fs;
    test::FixedClock clock;
    Archive archive{fs, clock};
    Decoder decoder{clock};
    FrameFinder finder;
    std::size_t shownLines = 0;

    // A found frame as the station takes it: decoded, archived, shown.
    void decode(const FoundFrame& f) {
        const std::vector<std::string> lines = decoder.aDecodeTelemetry1Execute(f.record, clock.utc);
        archive.aSaveTempFileExecute(f.record, clock.utc);
        archive.aSaveBinFileExecute(f.raw, clock.utc);
        shownLines = lines.size();
        for (const auto& l : lines)
            check(l.size() < 4096);
    }
};

std::size_t filesBelow(const std::map<std::string, std::string>& files, const std::string& folder) {
    std::size_t n = 0;
    for (const auto& [path, content] : files)
        if (path.starts_with(folder)) {
            check(content.size() == kBeaconFrameSize + 1);
            ++n;
        }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReceivePath path;
    path.archive.openRunFiles(path.fs.currentDirectory());
    for (std::size_t i = 0; i < size; ++i) {
        path.archive.appendRawByte(data[i]);
        if (const FoundFrame* f = path.finder.aRXBufferAnalyse2Execute(data[i]))
            path.decode(*f);
        check(path.finder.lengthAfterLastByte() >= 1 && path.finder.lengthAfterLastByte() <= FrameFinder::kTrimLimit);
        check(path.finder.ReceiveBufferLength() < FrameFinder::kTrimLimit);
    }
    check(path.fs.files.at(path.archive.RawByteLogPath()) == std::string(reinterpret_cast<const char*>(data), size));
    const auto beacons = static_cast<std::size_t>(path.decoder.BeaconCounter());
    check(filesBelow(path.fs.files, "/station/Telemetry/raw_data/") == beacons);
    if (beacons > 0) {
        check(path.shownLines == 21 || path.shownLines == 25);
        const std::string& log = path.fs.files.at(path.archive.BeaconTextLogPath());
        std::size_t lines = 0;
        for (std::size_t p = log.find("\r\n"); p != std::string::npos; p = log.find("\r\n", p + 2))
            ++lines;
        check(lines == beacons + 4);  // the four header lines first
    }
    return 0;
}
