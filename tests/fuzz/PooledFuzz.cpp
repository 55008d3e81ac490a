// Arbitrary bytes as SatNOGS DB's answers: the first byte picks the telemetry
// API's JSON or the web export's lines, the rest goes through kestrel-redecode's
// reader, frame finder and merging into CSV rows. Beyond the sanitizers it
// checks the counts add up: every frame read is a beacon, no beacon or
// unreadable, and no more rows come out than beacons went in.

#include "redecode/Pooled.h"
#include "redecode/Redecode.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::redecode;
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::uint64_t rows = 0;
    PooledSinks sinks;
    sinks.beacon = [&rows](const kestrel::BeaconLogEntry& e) {
        check(!csvRow(e).empty());
        ++rows;
    };
    sinks.mergeWindowMs = (data[0] >> 1) * 100;
    PooledDecoding decoding(sinks);
    try {
        if (data[0] & 1)
            decoding.readExport(text);
        else
            decoding.readJson(text);
    } catch (const std::runtime_error&) {
        // Broken JSON is reported; the whole pages before it stay counted.
    }
    decoding.finish();
    const PooledSummary& s = decoding.summary();
    check(rows == s.rows);
    check(s.rows <= s.beacons);
    check(s.frames >= s.notBeacons + s.unreadable);
    check(s.bytes <= text.size());
    // Whatever the text, its first line is taken for one kind or none.
    (void)pooledFormatOf(text);
    return 0;
}
