// The RawByteLog's time index: milliseconds and dates both ways, entries
// encoded and read back with a torn one left out, and the archive's writer.

#include "telemetry/TimeIndex.h"

#include "telemetry/Archive.h"
#include "telemetry/InOutError.h"

#include "support/Files.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

// The real file system; writes to files whose path ends in `failSuffix` fail
// while `failing` says so, after storing `storeBeforeFailing` bytes.
class FailingWrites : public IFileSystem {
public:
    IFileSystem& real = systemFileSystem();
    std::map<FileHandle, std::string> paths;
    std::function<bool(const std::string& path)> failing = [](const std::string&) { return false; };
    std::size_t storeBeforeFailing = 0;

    std::string currentDirectory() override { return real.currentDirectory(); }
    bool directoryExists(const std::string& p) override { return real.directoryExists(p); }
    void createDirectory(const std::string& p) override { real.createDirectory(p); }
    bool fileExists(const std::string& p) override { return real.fileExists(p); }
    FileHandle createFile(const std::string& p) override { return named(real.createFile(p), p); }
    FileHandle openForAppend(const std::string& p) override { return named(real.openForAppend(p), p); }
    void write(FileHandle f, const void* data, std::size_t size) override {
        if (!failing(paths[f]))
            return real.write(f, data, size);
        if (storeBeforeFailing)
            real.write(f, data, std::min(size, storeBeforeFailing));
        throw EInOutError::fromCode(kIoDiskFull);
    }
    void close(FileHandle f) override { real.close(f); }
    FileHandle openOrCreate(const std::string& p) override { return named(real.openOrCreate(p), p); }
    void truncate(FileHandle f, std::uint64_t size) override { real.truncate(f, size); }
    void sync(FileHandle f) override { real.sync(f); }
    std::string readFile(const std::string& p) override { return real.readFile(p); }
    FileHandle lockFile(const std::string& p) override { return real.lockFile(p); }
    bool removeFile(const std::string& p) noexcept override { return real.removeFile(p); }
    void cutTail(const std::string& p, std::uint64_t count) override { real.cutTail(p, count); }
    void renameNoReplace(const std::string& from, const std::string& to) override { real.renameNoReplace(from, to); }
    std::vector<std::string> fileNames(const std::string& folder) override { return real.fileNames(folder); }

private:
    FileHandle named(FileHandle f, const std::string& p) {
        paths[f] = p;
        return f;
    }
};

std::int64_t ms(const test::FixedClock& c) { return utcMilliseconds(c.utc); }

}  // namespace

TEST(TimeIndex, MillisecondsSinceEpochBothWays) {
    const SystemTime t{2024, 3, 2, 5, 14, 15, 7, 250};  // a Tuesday
    EXPECT_EQ(utcMilliseconds(t), 1709648107250);
    EXPECT_EQ(utcFromMilliseconds(1709648107250), t);
    EXPECT_EQ(utcFromMilliseconds(0), (SystemTime{1970, 1, 4, 1, 0, 0, 0, 0}));
    EXPECT_EQ(utcFromMilliseconds(utcMilliseconds({2000, 2, 2, 29, 23, 59, 59, 999}) + 1),
              (SystemTime{2000, 3, 3, 1, 0, 0, 0, 0}));
}

TEST(TimeIndex, EncodedEntriesReadBackAndATornOneIsLeftOut) {
    std::vector<TimeIndexEntry> entries{{0, 1709648107250},         {2600, 1709648107350},
                                        {5300, 1709648107461},  // a steady stream
                                        {5301, 1709648117461},  // after a pause
                                        {9000, 1709648000000},  // the clock stepped back
                                        {1ull << 40, 1709648200000}};
    TimeIndexEncoder encoder;
    std::string file(kTimeIndexHeader);
    for (const auto& e : entries) {
        file += encoder.encode(e, false);
        encoder.stored(e);
    }
    // A steady stream costs a byte or two an entry.
    std::vector<std::size_t> sizes;
    for (std::uint64_t step : {2560, 2560, 2765, 2560}) {
        const TimeIndexEntry e{entries.back().offset + step, entries.back().utcMs + 104};
        file += encoder.encode(e, false);
        sizes.push_back(encoder.encode(e, false).size());
        encoder.stored(e);
        entries.push_back(e);
    }
    EXPECT_EQ(std::vector<std::size_t>(sizes.begin() + 1, sizes.end()), (std::vector<std::size_t>{1, 2, 2}));
    TimeIndexContents read = parseTimeIndex(file);
    EXPECT_TRUE(read.recognised);
    EXPECT_EQ(read.entries, entries);
    EXPECT_EQ(read.dropped, 0u);

    // Cut anywhere inside the last entry (a write cut short): the rest stands.
    const std::string last = encoder.encode({entries.back().offset + 99999, 1709648300000}, false);
    for (std::size_t cut = 1; cut < last.size(); ++cut) {
        read = parseTimeIndex(file + last.substr(0, cut));
        EXPECT_EQ(read.entries, entries) << cut;
        EXPECT_EQ(read.dropped, 1u) << cut;
    }
    // A torn entry in the middle: the writer starts a new segment after it.
    const TimeIndexEntry next{entries.back().offset + 200000, 1709648400000};
    read = parseTimeIndex(file + last.substr(0, 2) + encoder.encode(next, true));
    EXPECT_EQ(read.entries.back(), next);
    EXPECT_EQ(read.entries.size(), entries.size() + 1);
    EXPECT_FALSE(parseTimeIndex("KR7 time").recognised);
}

// The archive as the station drives it: told the time once per read chunk,
// then handed the chunk's bytes.
class ArchiveTimeIndex : public ::testing::Test {
protected:
    void SetUp() override {
        archive.openRunFiles(dir.str());
        ASSERT_TRUE(archive.rawByteLogOpen());
    }
    void chunk(std::int64_t afterMs, const std::string& bytes) {
        clock.utc = utcFromMilliseconds(ms(clock) + afterMs);
        clock.ticks += static_cast<std::uint32_t>(afterMs);
        archive.noteReadTime();
        for (char c : bytes) {
            try {
                archive.appendRawByte(static_cast<std::uint8_t>(c));
            } catch (const EInOutError&) {
            }
        }
    }
    std::vector<TimeIndexEntry> entries() {
        archive.closeRawByteLog();
        return parseTimeIndex(test::readFile(archive.TimeIndexPath())).entries;
    }

    test::ScratchDir dir{"kestrel-timeindex"};
    test::FixedClock clock;
    FailingWrites files;
    Archive archive{files, clock};
};

TEST_F(ArchiveTimeIndex, AnEntryPerPauseAndPerTenthOfASecondAtMost) {
    const std::int64_t t0 = ms(clock);
    chunk(0, "0123456789");
    chunk(60, "abcde");  // too soon for an entry of its own
    chunk(60, "fgh");    // 120 ms after the first entry
    chunk(5000, "XY");   // the first bytes after a pause
    chunk(10, "");       // a read with nothing stored writes nothing
    chunk(100, "Z");
    EXPECT_EQ(entries(), (std::vector<TimeIndexEntry>{{0, t0}, {15, t0 + 120}, {18, t0 + 5120}, {20, t0 + 5230}}));
    EXPECT_EQ(fs::path(archive.TimeIndexPath()).filename().string(),
              fs::path(archive.RawByteLogPath()).filename().string() + ".tidx");
    EXPECT_EQ(archive.TimeIndexFailures(), 0u);
}

TEST_F(ArchiveTimeIndex, IndexesTheLogAsOnDiskAndOutlivesItsOwnFailures) {
    const std::int64_t t0 = ms(clock);
    chunk(0, "0123456789");
    // The disk is full for the RawByteLog: the chunk's first bytes never land,
    // so its entry points at the first one that did.
    int logWrites = 0;
    files.failing = [&](const std::string& p) { return p.ends_with(".KR7") && ++logWrites <= 3; };
    chunk(200, "abcdef");
    // Now the index fails, half an entry stored: counted, reported once, and
    // reception and the RawByteLog go on untouched.
    files.storeBeforeFailing = 1;
    files.failing = [](const std::string& p) { return p.ends_with(".tidx"); };
    chunk(200, "ghi");
    chunk(200, "jkl");
    files.failing = [](const std::string&) { return false; };
    chunk(200, "mno");
    EXPECT_EQ(test::readFile(archive.RawByteLogPath()), "0123456789defghijklmno");
    EXPECT_EQ(archive.TimeIndexFailures(), 2u);
    EXPECT_NE(archive.takeTimeIndexReport().value_or("").find("Disk full"), std::string::npos);
    EXPECT_FALSE(archive.takeTimeIndexReport());
    EXPECT_EQ(entries(), (std::vector<TimeIndexEntry>{{0, t0}, {10, t0 + 200}, {19, t0 + 800}}));
}
