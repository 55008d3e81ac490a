// kestrel-redecode on what SatNOGS DB gives back: saved pages of its telemetry
// API and its web export, pages fetched from a local server, and copies of a
// beacon heard by several stations merged into one row.
#include "redecode/Pooled.h"
#include "redecode/PooledFetch.h"
#include "redecode/Redecode.h"

#include "share/SidsForm.h"
#include "support/Beacons.h"
#include "RunRedecode.h"
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/SidsServer.h"
#include "telemetry/Archive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>

namespace fs = std::filesystem;
using namespace kestrel;
using test::runRedecode;
using namespace kestrel::redecode;

namespace {

std::string beacon(std::uint32_t n) {
    BeaconRecord r = test::exampleRecord();
    r.setFlightTime(n);
    r.setMilliseconds(n * 1000);
    return buildBeaconFrame(kTestFrameHeader, r);
}

// One entry of a page, with every member the API gives.
std::string entry(const std::string& frameHex, const std::string& observer, const std::string& timestamp) {
    return R"({"sat_id": "ZZZZ-1234", "norad_cat_id": 99999, "transmitter": "aBcD", "app_source": "sids",)"
           R"( "decoded": "", "frame": )" +
           frameHex + R"(, "observer": ")" + observer + R"(", "timestamp": ")" + timestamp +
           R"(", "version": "1.83", "observation_id": null, "station_id": null, "associated_satellites": []})";
}
std::string quoted(const std::string& bytes) { return "\"" + HexUpper(bytes) + "\""; }

// The CSV row the tool gives for a beacon with these times and stations.
std::string rowOf(const std::string& frame, const char* iso, const std::string& observers, std::uint32_t receptions) {
    const auto ms = parsePooledTime(iso);
    EXPECT_TRUE(ms) << iso;
    BeaconLogEntry e =
        beaconLogEntry(BeaconRecord::fromBytes(frame.data() + kFrameRecordOffset), utcFromMilliseconds(ms.value_or(0)));
    e.observers = observers;
    e.receptions = receptions;
    return csvRow(e);
}

std::vector<std::string> rowsOf(const fs::path& csv) {
    std::vector<std::string> rows;
    std::istringstream in(test::readFile(csv));
    for (std::string line; std::getline(in, line);)
        rows.push_back(line + "\n");
    if (!rows.empty())
        rows.erase(rows.begin());  // the header
    return rows;
}

// Two stations heard beacon 3 (one on a plain line, one through a KISS TNC,
// whose frame carries the AX.25 header) and beacon 2, whose copies straddle
// two pages; beacon 2 came again an hour earlier (a repeat, not a copy).
struct Pages {
    // The end of the first page: what a fetch finds again at the start of the
    // second when two frames arrive meanwhile.
    std::string last2 = entry(quoted("\x03\xF0 another satellite's frame"), "DL1ABC-JO62", "2026-12-09T10:00:15Z") +
                        ",\n" + entry(quoted(beacon(2)), "N0CALL-JN49ar", "2026-12-09T10:00:10.250Z");
    std::string first = "[" + entry(quoted(beacon(3)), "N0CALL-JN49ar", "2026-12-09T10:00:20.500000Z") + ",\n" +
                        entry(quoted(test::ax25UiHeader() + beacon(3)), "DL1ABC-JO62", "2026-12-09T10:00:18Z") + ",\n" +
                        last2 + "]";
    std::string second =
        "[" + entry(quoted(test::ax25UiHeader() + beacon(2)), "DL1ABC-JO62", "2026-12-09T10:00:09.750+00:00") + ",\n" +
        entry(quoted(beacon(2)), "N0CALL-JN49ar", "2026-12-09T09:00:10Z") + ",\n" +
        entry("null", "OK2XYZ-JN79", "2026-12-09T09:00:05Z") + ",\n" +
        entry(quoted(beacon(1)), "OK2XYZ-JN79", "2026-12-09T09:00:00Z") + "]";
    std::vector<std::string> rows() const {
        return {rowOf(beacon(3), "2026-12-09T10:00:18Z", "N0CALL-JN49ar;DL1ABC-JO62", 2),
                rowOf(beacon(2), "2026-12-09T10:00:09.750Z", "N0CALL-JN49ar;DL1ABC-JO62", 2),
                rowOf(beacon(2), "2026-12-09T09:00:10Z", "N0CALL-JN49ar", 1),
                rowOf(beacon(1), "2026-12-09T09:00:00Z", "OK2XYZ-JN79", 1)};
    }
    static constexpr const char* kSummary =
        "SatNOGS DB frames: 8 frames, 6 beacons in 4 rows (2 copies merged), "
        "1 frames without a KESTREL beacon and 1 unreadable entries skipped, 0 duplicates dropped";
};

}  // namespace

TEST(PooledTool, SavedPagesBecomeOneRowPerBeaconWithEveryObserverInCsvAndTree) {
    test::ScratchDir scratch("kestrel-pooled");
    const Pages pages;
    test::writeFile(scratch / "page1.json", pages.first);
    test::writeFile(scratch / "page2.json", pages.second);
    std::string output;
    ASSERT_EQ(runRedecode({"--csv", "rows.csv", "--out", "tree", "page1.json", "page2.json"}, scratch.path(), output),
              0)
        << output;
    EXPECT_NE(output.find(Pages::kSummary), std::string::npos) << output;
    EXPECT_EQ(rowsOf(scratch / "rows.csv"), pages.rows());

    // The tree: one BeaconTextLog named after the first row, its lines with the
    // observers and receptions, read back as the trend window reads them.
    const auto logs = test::filesIn(scratch / "tree" / "Telemetry" / "Decoded");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].filename(), "KR7_beacon_2026_12_09_100018_UTC.txt");
    const std::string text = test::readFile(logs[0]);
    EXPECT_NE(text.find(std::string(kBeaconTextLogTitle) + "\tObservers\tReceptions\r\n"), std::string::npos);
    const BeaconTextLogContents log = parseBeaconTextLog(text);
    EXPECT_EQ(log.skippedLines, 0u);
    ASSERT_EQ(log.entries.size(), 4u);
    EXPECT_EQ(log.entries[0].observers, "N0CALL-JN49ar;DL1ABC-JO62");
    EXPECT_EQ(log.entries[0].receptions, 2u);
    EXPECT_EQ(log.entries[0].utc.second, 18);
    EXPECT_EQ(log.entries[3].flightTime, 1u);
    const auto frames = test::filesIn(scratch / "tree" / "Telemetry" / "raw_data");
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(test::readFile(frames.back()), beacon(3) + '\0');

    // The same pages saved one after the other in one file give the same rows.
    test::writeFile(scratch / "both.json", pages.first + "\n" + pages.second + "\n");
    ASSERT_EQ(runRedecode({"--csv", "again.csv", "both.json"}, scratch.path(), output), 0) << output;
    EXPECT_EQ(rowsOf(scratch / "again.csv"), pages.rows());
}

TEST(PooledTool, ExportLinesWithCopiesAcrossStationsMergeWithoutObservers) {
    test::ScratchDir scratch("kestrel-pooled-export");
    const std::string lines = "2026-12-09 10:00:21|" + HexUpper(beacon(3)) + "\r\n" +  //
                              "2026-12-09 10:00:20|" + HexUpper(test::ax25UiHeader() + beacon(3)) + "\r\n" +
                              "2026-12-09 10:00:20|" + HexUpper(beacon(3)) + "\r\n" + "2026-12-09 10:00:11|" +
                              HexUpper(beacon(2)) + "\r\n" + "not an export line\r\n" + "2026-12-09 10:00:05|0102\r\n";
    test::writeFile(scratch / "99999-1-20261209T120000Z-week.csv", lines);
    std::string output;
    ASSERT_EQ(runRedecode({"--csv", "rows.csv", "99999-1-20261209T120000Z-week.csv"}, scratch.path(), output), 0)
        << output;
    EXPECT_NE(output.find("SatNOGS DB export"), std::string::npos) << output;
    EXPECT_NE(output.find("6 frames, 4 beacons in 2 rows (2 copies merged), 1 frames without a KESTREL beacon and 1 "
                          "unreadable entries skipped"),
              std::string::npos)
        << output;
    EXPECT_EQ(rowsOf(scratch / "rows.csv"), (std::vector<std::string>{rowOf(beacon(3), "2026-12-09 10:00:20", "", 3),
                                                                      rowOf(beacon(2), "2026-12-09 10:00:11", "", 1)}));
}

// A page that breaks off is reported where it breaks, counting only the frames
// of the whole pages before it; an error answer saved in place of a page is
// said as such. Neither run changes the earlier CSV.
TEST(PooledTool, BrokenPagesAndErrorAnswersAreReportedAndLeaveTheEarlierCsv) {
    test::ScratchDir scratch("kestrel-pooled-broken");
    const std::string good = entry(quoted(beacon(5)), "N0CALL-JN49ar", "2026-12-09T10:00:00Z");
    test::writeFile(scratch / "cut.json", "[" + good + "]\n[" + good + ",\n" + good.substr(0, 60));
    test::writeFile(scratch / "refused.json", R"({"detail": "Invalid token."})");
    test::writeFile(scratch / "rows.csv", "the earlier rows\n");
    std::string output;
    EXPECT_EQ(runRedecode({"--csv", "rows.csv", "cut.json", "refused.json"}, scratch.path(), output), 1) << output;
    EXPECT_TRUE(std::regex_search(
        output, std::regex(R"(cut\.json: cannot read: not JSON at byte \d+: .*\(\d+ bytes, 1 frames before it\))")))
        << output;
    EXPECT_NE(output.find("refused.json: no telemetry: SatNOGS DB said \"Invalid token.\""), std::string::npos)
        << output;
    EXPECT_NE(output.find("nothing put in place, the run did not succeed: rows.csv left as it was"), std::string::npos)
        << output;
    EXPECT_EQ(test::readFile(scratch / "rows.csv"), "the earlier rows\n");
    EXPECT_EQ(test::filesIn(scratch.path()).size(), 4u);  // no temporary file left
}

TEST(PooledMerging, CopiesWithinTheWindowEitherWayHeldBeaconsBounded) {
    std::vector<MergedBeacon> out;
    BeaconMerger merger(5000, [&](MergedBeacon&& b) { out.push_back(std::move(b)); });
    const auto add = [&](const std::string& frame, std::int64_t ms, const char* observer) {
        Reception r;
        r.utcMs = ms;
        r.observer = observer;
        r.raw = test::rawFrameOf(frame);
        merger.add(std::move(r));
    };
    // Oldest first this time; exactly the window apart still merges, a
    // station's second copy counts but is named once.
    add(beacon(1), 1000, "A");
    add(beacon(1), 6000, "B");
    add(beacon(1), 6000, "B");
    add(beacon(1), 11001, "C");  // more than the window past the last copy merged
    add(beacon(2), 20000, "A");
    ASSERT_EQ(out.size(), 2u);  // both beacon 1 rows are complete once the input is past them
    EXPECT_EQ(out[0].utcMs, 1000);
    EXPECT_EQ(out[0].observers, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(out[0].receptions, 3u);
    EXPECT_EQ(out[1].observers, std::vector<std::string>{"C"});
    merger.finish();
    ASSERT_EQ(out.size(), 3u);

    // However many beacons share one moment, only so many wait.
    out.clear();
    for (std::uint32_t i = 0; i < BeaconMerger::kMaxHeld + 10; ++i)
        add(beacon(100 + i), 50000, "A");
    EXPECT_EQ(merger.held(), BeaconMerger::kMaxHeld);
    EXPECT_EQ(out.size(), 10u);
}

TEST(PooledFormats, TimesAndTheKindOfFile) {
    EXPECT_EQ(parsePooledTime("2026-12-09T09:09:45.089Z"), parsePooledTime("2026-12-09 09:09:45.089"));
    EXPECT_EQ(*parsePooledTime("2026-12-09T09:09:45.0896Z") - *parsePooledTime("2026-12-09 09:09:45"), 89);
    EXPECT_EQ(*parsePooledTime("2026-12-09T10:09:45+01:00"), *parsePooledTime("2026-12-09T09:09:45Z"));
    for (const char* bad : {"", "2026-12-09", "2026-02-30T00:00:00Z", "2026-12-09T24:00:00Z", "2026-12-09T09:09:45.Z",
                            "2026-12-09T09:09:45+1:00", "2026-12-09T09:09:45 GMT"})
        EXPECT_FALSE(parsePooledTime(bad)) << bad;

    EXPECT_EQ(pooledFormatOf("\xEF\xBB\xBF[\n  {\"frame\""), PooledFormat::Json);
    EXPECT_EQ(pooledFormatOf("[]"), PooledFormat::Json);
    EXPECT_EQ(pooledFormatOf("{\"detail\": \"x\"}"), PooledFormat::Json);
    EXPECT_EQ(pooledFormatOf("2026-12-09 09:09:45|4262870002\r\n"), PooledFormat::Export);
    EXPECT_FALSE(pooledFormatOf("[Bb\x87"));               // a TNC's bytes that start with a bracket
    EXPECT_FALSE(pooledFormatOf("2026-12-09 09:09:45|"));  // no frame
    EXPECT_FALSE(pooledFormatOf("KESTREL (ZZ0KR) beacon data log file"));
}

TEST(PooledFetch, LinkHeadersAndRetryAfter) {
    const std::string page = "https://db.example.org/api/telemetry/?satellite=99999&format=json";
    EXPECT_EQ(firstPageUrl("https://db.example.org/api/telemetry/", 99999), page);
    EXPECT_EQ(nextPageUrl(R"(<https://db.example.org/api/telemetry/?cursor=cD0y&satellite=99999>; rel="next", )"
                          R"(<https://db.example.org/api/telemetry/?cursor=cj0x>; rel="prev")",
                          page),
              "https://db.example.org/api/telemetry/?cursor=cD0y&satellite=99999");
    EXPECT_EQ(nextPageUrl(R"(<https://db.example.org/x?p=1>; rel="prev", </api/telemetry/?page=3>; REL=next)", page),
              "https://db.example.org/api/telemetry/?page=3");
    EXPECT_EQ(nextPageUrl("<?page=2>; rel=\"first next\"", page), "https://db.example.org/api/telemetry/?page=2");
    EXPECT_FALSE(nextPageUrl(R"(<https://db.example.org/x?p=1>; rel="prev")", page));
    EXPECT_FALSE(nextPageUrl("", page));

    const auto now = std::chrono::system_clock::from_time_t(1445412480);  // Wed, 21 Oct 2015 07:28:00 GMT
    EXPECT_EQ(retryAfter(" 120 ", now), std::chrono::seconds(120));
    EXPECT_EQ(retryAfter("Wed, 21 Oct 2015 07:29:30 GMT", now), std::chrono::seconds(90));
    EXPECT_EQ(retryAfter("Wed, 21 Oct 2015 07:00:00 GMT", now), std::chrono::seconds(0));
    EXPECT_FALSE(retryAfter("soon", now));
    EXPECT_FALSE(retryAfter("-5", now));
}

namespace {

// SatNOGS DB's telemetry endpoint as far as the fetch meets it: the pages,
// linked by rel="next", a 429 before the second page is served.
struct FakeSatnogs {
    explicit FakeSatnogs(std::optional<test::TestPki> tls = {}) : server(std::move(tls)) {
        server.answerGets([this](const std::string& head) {
            test::SidsServer::Reply r;
            if (head.find("\r\nAuthorization: Token secret-token\r\n") == std::string::npos) {
                r.status = 401;
                r.body = R"({"detail": "Invalid token."})";
                return r;
            }
            if (head.rfind("GET /api/telemetry/?satellite=99999&format=json ", 0) == 0) {
                r.headers = "Link: <" + server.url() + "?cursor=cD0y&satellite=99999&format=json>; rel=\"next\"\r\n";
                r.body = pages.first;
            } else if (head.rfind("GET /api/telemetry?", 0) == 0) {
                r.status = 301;
                r.headers = "Location: /api/telemetry/?satellite=99999&format=json\r\n";
            } else if (head.rfind("GET /api/telemetry/?cursor=cD0y&satellite=99999&format=json ", 0) == 0) {
                if (!throttled.exchange(true)) {
                    r.status = 429;
                    r.headers = "Retry-After: 1\r\n";
                    r.body = R"({"detail": "Request was throttled. Expected available in 1 second."})";
                    return r;
                }
                r.headers = "Link: <" + server.url() + "?satellite=99999&format=json>; rel=\"prev\"\r\n";
                r.body = secondPage;
            } else {
                r.status = 404;
            }
            return r;
        });
    }
    Pages pages;
    std::string secondPage = pages.second;
    std::atomic<bool> throttled{false};
    test::SidsServer server;
};

}  // namespace

TEST(PooledFetch, ToolFetchesEveryPageOverHttpsWaitsOutA429AndSaysWhyItStops) {
    test::ScratchDir scratch("kestrel-pooled-fetch");
    FakeSatnogs db(test::TestPki::Make(scratch.path()));
    const std::string ca = (scratch / "ca" / "ca.pem").string();
    std::string output;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(
        runRedecode({"--satnogs", "99999", "--satnogs-url", db.server.url(), "--ca-file", ca, "--csv", "rows.csv"},
                    scratch.path(), output, {"SATNOGS_TOKEN=secret-token"}),
        0)
        << output;
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(rowsOf(scratch / "rows.csv"), db.pages.rows());
    EXPECT_NE(output.find("asks to wait 1 s (429 Too Many Requests)"), std::string::npos) << output;
    EXPECT_NE(output.find("page 2: "), std::string::npos) << output;
    EXPECT_NE(output.find("SatNOGS DB (NORAD 99999): 2 pages, 8 frames"), std::string::npos) << output;
    EXPECT_NE(output.find(Pages::kSummary), std::string::npos) << output;
    EXPECT_EQ(db.server.received().size(), 3u);

    // Without the team's authority the certificate is not trusted; without
    // the token the server's refusal is said.
    EXPECT_EQ(
        runRedecode({"--satnogs", "99999", "--token", "secret-token", "--satnogs-url", db.server.url(), "--csv", "-"},
                    scratch.path(), output),
        1);
    EXPECT_NE(output.find("certificate is not trusted"), std::string::npos) << output;
    EXPECT_EQ(runRedecode({"--satnogs", "99999", "--satnogs-url", db.server.url(), "--ca-file", ca, "--csv", "-"},
                          scratch.path(), output, {"SATNOGS_TOKEN="}),
              1);
    EXPECT_NE(output.find("SatNOGS DB refused the request (401): Invalid token.; give your API token with --token"),
              std::string::npos)
        << output;
    // An address without its trailing slash: where the server points, and the fix.
    std::string endpoint = db.server.url();
    endpoint.pop_back();
    EXPECT_EQ(runRedecode({"--satnogs", "99999", "--satnogs-url", endpoint, "--ca-file", ca, "--csv", "-"},
                          scratch.path(), output, {"SATNOGS_TOKEN=secret-token"}),
              1);
    EXPECT_NE(output.find("SatNOGS DB answered 301 (moved to " + db.server.url() +
                          "?satellite=99999&format=json); not followed: the address lacks its trailing slash, give "
                          "--satnogs-url " +
                          db.server.url()),
              std::string::npos)
        << output;
}

// The guide's fetch run again replaces its CSV and tree; a fetch that fails
// (a token no longer valid, a page that is no JSON) leaves both as they were.
TEST(PooledFetch, FailedFetchesLeaveTheEarlierResultAndRunsAgainReplaceIt) {
    test::ScratchDir scratch("kestrel-pooled-again");
    FakeSatnogs db;
    db.throttled = true;
    const std::vector<std::string> args{"--satnogs", "99999",   "--satnogs-url", db.server.url(),
                                        "--csv",     "all.csv", "--out",         "all"};
    std::string output;
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(runRedecode(args, scratch.path(), output, {"SATNOGS_TOKEN=secret-token"}), 0) << output;
    EXPECT_EQ(rowsOf(scratch / "all.csv"), db.pages.rows());
    const auto tree = test::filesIn(scratch / "all" / "Telemetry" / "raw_data");
    EXPECT_EQ(tree.size(), 4u);
    const std::string csv = test::readFile(scratch / "all.csv");

    EXPECT_EQ(runRedecode(args, scratch.path(), output, {"SATNOGS_TOKEN=expired"}), 1);
    EXPECT_NE(output.find("nothing put in place, the run did not succeed: all.csv left as it was, " +
                          (fs::path("all") / "Telemetry").string() + " left as it was"),
              std::string::npos)
        << output;
    db.secondPage = "<html><body>Service unavailable</body></html>";
    EXPECT_EQ(runRedecode(args, scratch.path(), output, {"SATNOGS_TOKEN=secret-token"}), 1);
    EXPECT_NE(output.find("SatNOGS DB (NORAD 99999): page 2: not JSON at byte 1"), std::string::npos) << output;
    EXPECT_NE(output.find("1 pages, 4 frames from whole pages (ended early"), std::string::npos) << output;
    EXPECT_EQ(test::readFile(scratch / "all.csv"), csv);
    EXPECT_EQ(test::filesIn(scratch / "all" / "Telemetry" / "raw_data"), tree);
    EXPECT_EQ(test::filesIn(scratch / "all").size(), 1u) << output;  // the tree alone, nothing temporary
}

// Two frames arrived between the fetch of page 1 and page 2, so page 2 starts
// with the last two of page 1 again: they are dropped, not counted twice.
TEST(PooledFetch, FramesRepeatedByShiftingPagesAreDroppedAndCounted) {
    test::ScratchDir scratch("kestrel-pooled-shift");
    FakeSatnogs db;
    db.throttled = true;
    db.secondPage = "[" + db.pages.last2 + ",\n" + db.pages.second.substr(1);
    std::string output;
    ASSERT_EQ(runRedecode({"--satnogs", "99999", "--satnogs-url", db.server.url(), "--csv", "rows.csv"}, scratch.path(),
                          output, {"SATNOGS_TOKEN=secret-token"}),
              0)
        << output;
    EXPECT_EQ(rowsOf(scratch / "rows.csv"), db.pages.rows());
    EXPECT_NE(output.find("SatNOGS DB frames: 8 frames, 6 beacons in 4 rows (2 copies merged), 1 frames without a "
                          "KESTREL beacon and 1 unreadable entries skipped, 2 duplicates dropped"),
              std::string::npos)
        << output;
}
