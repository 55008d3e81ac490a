// One number format whatever the user's locale: the simulator, the program
// and kestrel-redecode each run here under a decimal-comma locale
// (de_DE.UTF-8), and every number they write has a "." (the trend window's
// pictures are drawn under it by the trends suite).
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using namespace kestrel::test;

namespace {

constexpr const char* kGerman = "LC_ALL=de_DE.UTF-8";

// The tool under the German locale.
std::vector<std::string> german(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/usr/bin/env", kGerman});
    return argv;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

}  // namespace

TEST(DecimalComma, EveryToolWritesAPointUnderAGermanLocale) {
    // Without the locale the programs would fall back to "C" and prove nothing.
    const locale_t de = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    ASSERT_NE(de, locale_t(nullptr)) << "de_DE.UTF-8 is missing: scripts/test.sh makes it (localedef -i de_DE -f "
                                        "UTF-8 de_DE.UTF-8)";
    EXPECT_STREQ(nl_langinfo_l(RADIXCHAR, de), ",");
    freelocale(de);

    ScratchDir scratch("kestrel-decimal-comma");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    // "0.2" read as a number, not cut at the point.
    Child sim(german({KESTREL_TNC_SIM, "--write-ini", work.string(), "--interval", "0.2", "--count", "3"}),
              scratch.path(), scratch / "sim.out", false);
    ASSERT_TRUE(eventually([&] { return readFile(work / "RS232Settings.ini").ends_with("FlowControl=None\r\n"); },
                           std::chrono::seconds(10)))
        << readFile(scratch / "sim.out");
    Child decoder(german({KESTREL_DECODER}), work, scratch / "decoder.out", true);
    const fs::path decoded = work / "Telemetry" / "Decoded";
    const auto dataLines = [&]() -> std::size_t {
        const auto logs = filesIn(decoded);
        const std::size_t n = logs.size() == 1 ? linesOf(readFile(logs[0])).size() : 0;
        return n > 4 ? n - 4 : 0;  // after the four header lines
    };
    ASSERT_TRUE(eventually([&] { return dataLines() >= 3 || !decoder.running(); }, std::chrono::seconds(30)))
        << readFile(scratch / "sim.out") << readFile(scratch / "decoder.out");
    EXPECT_EQ(decoder.terminate(), 0) << readFile(scratch / "decoder.out");
    EXPECT_EQ(sim.terminate(), 0) << readFile(scratch / "sim.out");

    // The BeaconTextLog: tab-separated, the magnetic field to one decimal.
    const std::vector<std::string> lines = linesOf(readFile(filesIn(decoded).at(0)));
    for (std::size_t i = 4; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find(','), std::string::npos) << lines[i];
        EXPECT_TRUE(std::regex_search(lines[i], std::regex(R"(^\d+\t *\d+\t *\d+\t *\d+\t-?\d+\.\d\t)"))) << lines[i];
    }

    // kestrel-redecode's CSV: as many fields in each row as in its header.
    const auto logs = rawByteLogsIn(work / "Telemetry");
    ASSERT_EQ(logs.size(), 1u);
    Child redecode(german({KESTREL_REDECODE, "--quiet", "--csv", (scratch / "rows.csv").string(), logs[0].string()}),
                   scratch.path(), scratch / "redecode.out", false);
    ASSERT_EQ(redecode.waitExit(std::chrono::seconds(30)), 0) << readFile(scratch / "redecode.out");
    const std::vector<std::string> rows = linesOf(readFile(scratch / "rows.csv"));
    ASSERT_EQ(rows.size(), lines.size() - 4 + 1);
    const auto fields = [](const std::string& row) { return std::count(row.begin(), row.end(), ','); };
    for (const std::string& row : rows) {
        EXPECT_EQ(fields(row), fields(rows[0])) << row;
        if (&row != &rows[0]) {
            EXPECT_TRUE(std::regex_search(row, std::regex(R"(,-?\d+\.\d+,)"))) << row;
        }
    }
}
