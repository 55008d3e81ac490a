// Arbitrary bytes as a RawByteLog's time index (torn by a kill, a full disk,
// or not an index at all), through the reader kestrel-redecode uses. Beyond
// the sanitizers it checks that reading in any pieces gives what reading
// whole gives, that offsets never decrease, and that a segment the writer
// starts after whatever is there is found again whole.

#include "telemetry/TimeIndex.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace kestrel;

void check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte: whether the header comes first (most real files) and the
    // size of the pieces read.
    std::string file = (data[0] & 1) ? std::string(kTimeIndexHeader) : std::string();
    file.append(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t piece = (data[0] >> 1) + 1;

    const TimeIndexContents whole = parseTimeIndex(file);
    check(whole.recognised == file.starts_with(kTimeIndexHeader));
    for (std::size_t i = 1; i < whole.entries.size(); ++i)
        check(whole.entries[i - 1].offset <= whole.entries[i].offset);
    check(whole.dropped <= file.size());

    TimeIndexReader reader;
    std::vector<TimeIndexEntry> pieces;
    for (std::size_t at = 0; at < file.size(); at += piece)
        reader.feed(std::string_view(file).substr(at, piece), [&](const TimeIndexEntry& e) { pieces.push_back(e); });
    reader.finish();
    check(pieces == whole.entries && reader.dropped() == whole.dropped && reader.recognised() == whole.recognised);

    // The writer after a failed write: a new segment, then steady entries.
    if (!whole.recognised)
        return 0;
    const std::uint64_t last = whole.entries.empty() ? 0 : whole.entries.back().offset;
    if (last > std::numeric_limits<std::uint64_t>::max() / 2)
        return 0;
    TimeIndexEncoder encoder;
    const TimeIndexEntry first{last + 1, 1709648107000};
    const TimeIndexEntry second{last + 2561, 1709648107104};
    std::string more = encoder.encode(first, true);
    encoder.stored(first);
    more += encoder.encode(second, false);
    const TimeIndexContents after = parseTimeIndex(file + more);
    check(after.entries.size() >= 2 && after.entries[after.entries.size() - 2] == first &&
          after.entries.back() == second);
    return 0;
}
