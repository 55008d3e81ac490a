// Arbitrary text as a BeaconTextLog handed to kestrel-redecode --csv (a log
// cut by a kill, edited by hand, or another file under its name): the reader
// and the CSV rows made from it. Beyond the sanitizers it checks that each row
// is one CSV line and that every value the trend window's CSV reader takes
// from it is the one written.

#include "redecode/Redecode.h"

#include "telemetry/BeaconCsvReader.h"
#include "telemetry/BeaconTextLogReader.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrel;

void check(bool ok) {
    if (!ok)
        std::abort();
}

// Line breaks outside quoted fields.
std::size_t csvLines(const std::string& row) {
    std::size_t lines = 0;
    bool quoted = false;
    for (char c : row) {
        if (c == '"')
            quoted = !quoted;
        else if (c == '\n' && !quoted)
            ++lines;
    }
    return lines;
}

// A row's fields, quotes taken off.
std::vector<std::string> csvFields(const std::string& row) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i + 1 < row.size(); ++i) {
        const char c = row[i];
        if (c == '"') {
            if (quoted && row[i + 1] == '"')
                fields.back() += row[++i];
            else
                quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const BeaconTextLogContents log = parseBeaconTextLog(text);
    check(log.entries.size() + log.skippedLines <= size);

    BeaconCsvReader reader;
    const std::string header = redecode::csvHeader();
    check(reader.readHeader(std::string_view(header).substr(0, header.size() - 1)));
    for (const BeaconLogEntry& e : log.entries) {
        const std::string row = redecode::csvRow(e);
        check(csvLines(row) == 1 && row.back() == '\n');
        const auto back = reader.readRow(std::string_view(row).substr(0, row.size() - 1));
        check(back.has_value());
        // Columns the reader does not take come back empty-handed (as a
        // default entry has them); all others as written.
        BeaconLogEntry unread;
        unread.utc = back->utc;
        const std::vector<std::string> written = csvFields(row), read = csvFields(redecode::csvRow(*back)),
                                       none = csvFields(redecode::csvRow(unread));
        check(written.size() == read.size() && read.size() == none.size());
        for (std::size_t i = 0; i < read.size(); ++i)
            check(read[i] == written[i] || read[i] == none[i]);
    }
    return 0;
}
