// The pieces of forwarding that need no network: the form, the [Share]
// section, the outbox across restarts.
#include "serial/ProfileStore.h"
#include "share/Outbox.h"
#include "share/ShareSettings.h"
#include "share/SidsForm.h"
#include "support/Files.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

TEST(SidsForm, FieldsInTheirFormats) {
    SidsFrame f;
    f.noradId = 99999;
    f.source = "N0CALL/P 1&2";
    f.utc = SystemTime{2024, 3, 2, 5, 14, 15, 7, 7};
    const std::string bytes(
        "\x00\xab"
        "B",
        3);
    f.frame = bytes;
    f.latitude = -33.86;
    f.longitude = 8.95564;
    const FormFields fields = SidsFields(f);
    const FormFields expected = {
        {"noradID", "99999"},      {"source", "N0CALL/P 1&2"},       {"timestamp", "2024-03-05T14:15:07.007Z"},
        {"frame", "00AB42"},       {"locator", "longLat"},           {"longitude", "8.95564E"},
        {"latitude", "33.86000S"}, {"version", fields.back().second}};
    EXPECT_EQ(fields, expected);
    EXPECT_FALSE(fields.back().second.empty());
    // What prints as zero has no southern or western half.
    EXPECT_EQ(SidsLatitude(-0.000001), "0.00000N");
    EXPECT_EQ(SidsLongitude(-179.5), "179.50000W");

    const std::string body = FormEncode({{"source", "N0CALL/P 1&2"}, {"timestamp", "14:15:07.007Z"}});
    EXPECT_EQ(body, "source=N0CALL%2FP%201%262&timestamp=14%3A15%3A07.007Z");
}

namespace {

ShareSettings Load(const ScratchDir& dir, const std::string& section) {
    const std::string ini = (dir / "RS232Settings.ini").string();
    writeFile(ini, "[CPort]\r\nPort=COM4\r\n" + section);
    ShareSettings s;
    s.Load(*CreateProfileStore(), ini);
    return s;
}

const std::string kComplete =
    "[Share]\r\nUrl=https://db.example.org/api/telemetry/\r\nNoradId=99999\r\nCallsign=N0CALL\r\n"
    "Latitude=49.73145\r\nLongitude=-8.95564\r\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

}  // namespace

TEST(ShareSettings, CompleteAbsentAndMalformedSections) {
    ScratchDir dir;
    const ShareSettings ok = Load(dir, kComplete);
    EXPECT_TRUE(ok.enabled()) << ok.problem;
    EXPECT_EQ(ok.noradId, 99999);
    EXPECT_DOUBLE_EQ(ok.longitude, -8.95564);

    const ShareSettings absent = Load(dir, "");
    EXPECT_FALSE(absent.inFile);
    EXPECT_FALSE(absent.enabled());
    EXPECT_TRUE(absent.problem.empty());

    const std::pair<std::string, std::string> faults[] = {
        {"Url=https://db.example.org/api/telemetry/\r\n", ""},
        {"https://db", "ftp://db"},
        {"https://db.example.org/api/", "https://db example/"},
        {"NoradId=99999", "NoradId=0"},
        {"NoradId=99999", "NoradId=-5"},
        {"NoradId=99999", "NoradId=many"},
        {"Callsign=N0CALL\r\n", ""},
        {"Latitude=49.73145", "Latitude=90.5"},
        {"Latitude=49.73145", "Latitude=north"},
        {"Longitude=-8.95564", "Longitude=-181"},
        {"Longitude=-8.95564\r\n", ""},
        {"Longitude=-8.95564", "Longitude=-8.95564\r\nCaFile=" + (dir / "missing.pem").string()},
    };
    for (const auto& [from, to] : faults) {
        const ShareSettings s = Load(dir, Replace(kComplete, from, to));
        EXPECT_TRUE(s.inFile) << to;
        EXPECT_FALSE(s.enabled()) << to;
        EXPECT_NE(s.problem.find("no telemetry is forwarded"), std::string::npos) << to;
        EXPECT_FALSE(s.shortProblem.empty()) << to;
        EXPECT_LE(s.shortProblem.size(), 18u) << s.shortProblem;  // a 100-pixel panel
    }
}

TEST(Outbox, KeepsWhatWasNotAcknowledgedOldestFirst) {
    ScratchDir dir;
    const std::string path = (dir / "Telemetry" / "share" / "outbox.txt").string();
    {
        Outbox box(path);
        EXPECT_TRUE(box.Open().empty());
        OutboxRecord r;
        for (const char* form : {"a=1", "a=2", "a=3"})
            box.Append(r, "http://x/", form);
        box.MarkSent(2);
    }
    // A kill in the middle of a line leaves it torn.
    std::string text = readFile(path) + "Q 4 http://x/ a=";
    writeFile(path, text);
    {
        Outbox box(path);
        const auto waiting = box.Open();
        ASSERT_EQ(waiting.size(), 2u);
        EXPECT_EQ(waiting[0].form, "a=1");
        EXPECT_EQ(waiting[1].form, "a=3");
        EXPECT_EQ(waiting[1].url, "http://x/");
        OutboxRecord r;
        box.Append(r, "http://x/", "a=5");
        box.MarkRefused(1);
    }
    Outbox box(path);
    const auto waiting = box.Open();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].form, "a=3");
    EXPECT_EQ(waiting[1].form, "a=5");  // not glued to the torn line
}

TEST(Outbox, EmptiedOnlyWhenNothingWaits) {
    ScratchDir dir;
    const std::string path = (dir / "outbox.txt").string();
    {
        Outbox box(path);
        box.Open();
        OutboxRecord r;
        box.Append(r, "http://x/", "a=1");
        box.Append(r, "http://x/", "a=2");
        box.MarkSent(1);
    }
    const std::string before = readFile(path);
    {
        Outbox box(path);
        EXPECT_EQ(box.Open().size(), 1u);
    }
    EXPECT_EQ(readFile(path), before);  // read, not rewritten
    {
        Outbox box(path);
        box.Open();
        box.MarkSent(2);
    }
    Outbox box(path);
    EXPECT_TRUE(box.Open().empty());
    EXPECT_EQ(readFile(path), "");
}
