// The archive: the BeaconTextLog's lines and header, file names from the
// stamp, the RawByteLog written a chunk at a time, files never overwritten,
// and what a failing disk leaves behind.

#include "telemetry/Archive.h"

#include "telemetry/InOutError.h"

#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/ForwardingFileSystem.h"
#include "support/MemoryFileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <map>
#include <set>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

const std::string kExampleLine =
    "86400\t6850\t  95\t 200\t12.5\t-3.0\t0.0\t54.900000\t23.933300\t400050.0000\t1005.0000\t1\t30.6\t18\t-25\t-21\t"
    "0\t0\t120\t0\t385\t1\t22\t333\t4000\t555\t6\t0x01000AFF00001080\t2024-03-05\t14:15:07\r\n";

// The real file system with failures on demand; tracks which files are open.
class FaultyFileSystem : public test::ForwardingFileSystem {
public:
    IFileSystem& real = target_;
    int writes = 0;
    int existsChecks = 0, folderChecks = 0;
    int failWrite = 0;  // 1-based number of the write that stores half and fails
    bool failCreate = false;
    bool failCut = false;
    std::uint64_t room = 0;  // what freeSpace says: a failing write is a full disk's
    // Files may grow to this many bytes, as under a file-size limit (EFBIG).
    std::uint64_t sizeLimit = UINT64_MAX;
    // Every write to this file fails (a damaged file) and stores nothing.
    std::string brokenFile;

    bool directoryExists(const std::string& p) override {
        ++folderChecks;
        return real.directoryExists(p);
    }
    bool fileExists(const std::string& p) override {
        ++existsChecks;
        return real.fileExists(p);
    }
    FileHandle createFile(const std::string& p) override {
        if (failCreate)
            throw EInOutError::fromCode(kIoFileAccessDenied);
        return track(real.createFile(p), p);
    }
    FileHandle openForAppend(const std::string& p) override { return track(real.openForAppend(p), p); }
    void write(FileHandle f, const void* data, std::size_t size) override {
        if (++writes == failWrite) {
            real.write(f, data, size / 2);
            EInOutError e = EInOutError::fromCode(kIoDiskFull);
            e.BytesWritten = size / 2;
            throw e;
        }
        const auto at = open.find(f);
        const std::string path = at == open.end() ? std::string() : at->second;
        if (!path.empty() && path == brokenFile)
            throw ioErrorFromErrno(EIO);
        std::error_code ec;
        std::uint64_t now = path.empty() ? 0 : fs::file_size(path, ec);
        if (ec)
            now = 0;  // a device has no size
        if (now + size > sizeLimit) {
            const std::size_t fits = static_cast<std::size_t>(sizeLimit - std::min(now, sizeLimit));
            real.write(f, data, fits);
            EInOutError e = ioErrorFromErrno(EFBIG);
            e.BytesWritten = fits;
            throw e;
        }
        real.write(f, data, size);
    }
    void close(FileHandle f) override {
        open.erase(f);
        real.close(f);
    }
    std::optional<std::uint64_t> freeSpace(const std::string&) override { return room; }
    void cutTail(const std::string& p, std::uint64_t count) override {
        if (failCut)
            throw EInOutError::fromCode(kIoFileAccessDenied);
        real.cutTail(p, count);
    }

    std::map<FileHandle, std::string> open;  // with each file's path

private:
    FileHandle track(FileHandle f, const std::string& path) {
        open[f] = path;
        return f;
    }
};

std::vector<std::string> crlfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "text does not end in CR LF";
    return lines;
}

RawFrame rawFrameOf(const BeaconRecord& r) {
    const std::string frame = buildBeaconFrame(kTestFrameHeader, r);
    RawFrame raw{};
    std::copy(frame.begin(), frame.end(), raw.begin());
    return raw;
}

class ArchiveTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    test::FixedClock clock;
    FaultyFileSystem files;
    Archive archive{files, clock};
    const fs::path telemetry = dir.path() / "Telemetry";
    const fs::path textLog = telemetry / "Decoded" / "KR7_beacon_2024_03_05_141507_UTC.txt";
    const fs::path rawData = telemetry / "raw_data";

    void storeBeacon(const BeaconRecord& r) {
        archive.aSaveTempFileExecute(r, clock.utc);
        archive.aSaveBinFileExecute(rawFrameOf(r), clock.utc);
    }
};

}  // namespace

TEST(BeaconTextLogFormat, WorkedExampleLineAndHeader) {
    EXPECT_EQ(beaconTextLogLine(test::exampleRecord(), {2024, 3, 2, 5, 14, 15, 7, 250}), kExampleLine);

    EXPECT_EQ(kBeaconTextLogTitle.size(), 227u);
    EXPECT_EQ(std::count(kBeaconTextLogTitle.begin(), kBeaconTextLogTitle.end(), '\t'), 15);
    EXPECT_TRUE(kBeaconTextLogTitle.starts_with("Flight time, s\tVbatt, V\t"));
    EXPECT_TRUE(kBeaconTextLogTitle.ends_with(
        "\tTransponder_ON  Iphoto[1..3], mA        Kphoto[1..6]    ErrorCodes      Date     TimeUTC"));
    EXPECT_EQ(beaconTextLogHeader(),
              "KESTREL (ZZ0KR) beacon data log file\r\n\r\n" + std::string(kBeaconTextLogTitle) + "\r\n\r\n");
}

TEST(BeaconTextLogFormat, NonFiniteNegativeAndLargeValues) {
    BeaconRecord r;
    r.setVbat(65535);
    r.setIin(12345);
    r.setIsys(5);
    r.setBx(std::numeric_limits<float>::quiet_NaN());
    r.setBy(std::numeric_limits<float>::infinity());
    r.setBz(-std::numeric_limits<float>::infinity());
    r.setLatitude(-std::numeric_limits<double>::quiet_NaN());
    r.setLongitude(-23.9333);
    r.setAltitude(-0.00004);
    r.setVelocity(1e30);
    r.setGpsOn(255);
    r.setTpsu(-5);
    r.setToutMin(-32768);
    r.setToutMax(32767);
    r.setTransponderTime(65535);
    r.setTransponderOn(2);
    r.setFoto(5, 65535);
    r.setStatusByte(0, 0xAB);
    EXPECT_EQ(beaconTextLogFields(r),
              "0\t65535\t12345\t   5\tNan\t+Inf\t-Inf\tNan\t-23.933300\t-0.0000\t"
              "1000000000000000019884624838656.0000\t255\t36.5\t-5\t-32768\t32767\t65535\t2\t"
              "0\t0\t0\t0\t0\t0\t0\t0\t65535\t0xAB00000000000000");
}

TEST(ArchiveNames, StampsFromTheClock) {
    const SystemTime t{987, 1, 0, 2, 3, 4, 5, 999};
    EXPECT_EQ(rawByteLogName(t), "log_raw_0987_01_02_030405_UTC.KR7");
    EXPECT_EQ(beaconTextLogName(t), "KR7_beacon_0987_01_02_030405_UTC.txt");
    EXPECT_EQ(rawFrameFileName(t), "KR7_raw_0987_01_02_030405_UTC.KR7");
}

TEST_F(ArchiveTest, NothingIsStoredBeforeStartUp) {
    EXPECT_THROW(archive.appendRawByte(1), EInOutError);
    EXPECT_THROW(archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc), EInOutError);
    EXPECT_THROW(archive.aSaveBinFileExecute(RawFrame{}, clock.utc), EInOutError);
    EXPECT_FALSE(fs::exists("Telemetry"));  // nothing relative to the current directory
}

TEST_F(ArchiveTest, RunWithoutBeaconsKeepsEveryByteAndMakesNothingElse) {
    archive.openRunFiles(dir.str());
    const fs::path rawLog = telemetry / "raw_log" / "log_raw_2024_03_05_141507_UTC.KR7";
    EXPECT_EQ(archive.RawByteLogPath(), rawLog.string());
    EXPECT_EQ(archive.BeaconTextLogPath(), textLog.string());
    EXPECT_EQ(fs::file_size(rawLog), 0u);
    for (int b : {0x42, 0x00, 0xFF, 0x0A})
        archive.appendRawByte(static_cast<std::uint8_t>(b));
    // Each byte is on disk at once, without closing the log.
    EXPECT_EQ(test::readFile(rawLog), std::string("B\0\xFF\n", 4));
    archive.closeRawByteLog();
    EXPECT_FALSE(fs::exists(telemetry / "Decoded"));
    EXPECT_FALSE(fs::exists(rawData));
    EXPECT_THROW(archive.appendRawByte(1), EInOutError);
}

// A chunk goes out in one write; what a short write did not store is what
// the error says, and the next chunk follows the stored part.
TEST_F(ArchiveTest, RawBytesGoOutAChunkAtATimeAndAShortWriteSaysWhatItStored) {
    archive.openRunFiles(dir.str());
    archive.appendRawBytes("0123456789");
    files.failWrite = files.writes + 1;
    try {
        archive.appendRawBytes("abcdefgh");
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.BytesWritten, 4u);
    }
    archive.appendRawBytes("XY");
    EXPECT_EQ(test::readFile(archive.RawByteLogPath()), "0123456789abcdXY");
}

// A log that reaches the file-size limit goes on in a piece named after it:
// every byte and every line lands in one piece or the other, once, and the
// piece's time index gives the bytes it took over their chunk's time.
TEST_F(ArchiveTest, LogsThatCannotGrowGoOnInPiecesWithNothingLost) {
    archive.openRunFiles(dir.str());
    const std::string firstLog = archive.RawByteLogPath();
    files.sizeLimit = 1000;
    std::string sent;
    for (int i = 0; i < 5; ++i) {
        clock.ticks += 200;
        clock.utc.second = static_cast<std::uint16_t>(10 + i);
        archive.noteReadTime();
        const std::string chunk(300, static_cast<char>('a' + i));
        archive.appendRawBytes(chunk);
        sent += chunk;
    }
    const std::string piece = (telemetry / "raw_log" / "log_raw_2024_03_05_141507_UTC_part2.KR7").string();
    EXPECT_EQ(archive.RawByteLogPath(), piece);
    EXPECT_EQ(test::readFile(firstLog) + test::readFile(piece), sent);
    const auto continued = archive.takeContinued();
    ASSERT_EQ(continued.size(), 1u);
    EXPECT_EQ(continued[0].from, firstLog);
    EXPECT_EQ(continued[0].to, piece);
    EXPECT_EQ(continued[0].why, "I/O error 27 (file too large)");
    SystemTime crossing = clock.utc;
    crossing.second = 13;  // the chunk that met the limit
    const TimeIndexContents index = parseTimeIndex(test::readFile(timeIndexPath(piece)));
    ASSERT_FALSE(index.entries.empty());
    EXPECT_EQ(index.entries.front(), (TimeIndexEntry{0, utcMilliseconds(crossing)}));

    // The BeaconTextLog: the line that does not fit starts the next piece,
    // with its header; the first ends at its last whole line.
    clock.utc.second = 7;
    files.sizeLimit = beaconTextLogHeader().size() + 2 * kExampleLine.size() + 10;
    for (int i = 0; i < 3; ++i)
        storeBeacon(test::exampleRecord());
    const fs::path textPiece = telemetry / "Decoded" / "KR7_beacon_2024_03_05_141507_UTC_part2.txt";
    EXPECT_EQ(test::readFile(textLog), beaconTextLogHeader() + kExampleLine + kExampleLine);
    EXPECT_EQ(test::readFile(textPiece), beaconTextLogHeader() + kExampleLine);
    EXPECT_EQ(archive.BeaconTextLogPath(), textPiece.string());
    ASSERT_EQ(archive.takeContinued().size(), 1u);
}

// Writes that keep failing while the disk has room: tried once more, then a
// new piece. On a full disk a new file would not help: the failure stands.
TEST_F(ArchiveTest, AWriteThatKeepsFailingWithRoomToSpareGoesOnInANewPiece) {
    archive.openRunFiles(dir.str());
    const std::string firstLog = archive.RawByteLogPath();
    archive.appendRawBytes("before");
    files.brokenFile = firstLog;
    EXPECT_THROW(archive.appendRawBytes("lost"), EInOutError);
    EXPECT_TRUE(archive.takeContinued().empty());

    files.room = 1ull << 30;
    archive.appendRawBytes("after");
    EXPECT_EQ(test::readFile(firstLog), "before");
    EXPECT_EQ(test::readFile(archive.RawByteLogPath()), "after");
    EXPECT_EQ(archive.takeContinued().size(), 1u);

    files.failWrite = files.writes + 1;  // one failure, then it works again
    archive.appendRawBytes("again");
    EXPECT_EQ(test::readFile(archive.RawByteLogPath()), "afteragain");
    EXPECT_TRUE(archive.takeContinued().empty());
}

TEST_F(ArchiveTest, BeaconsAddLinesAndRawFramesWithoutOverwriting) {
    archive.openRunFiles((dir.path() / "deep" / "er").string());  // missing parents are made
    EXPECT_TRUE(fs::is_directory(dir.path() / "deep" / "er" / "Telemetry" / "raw_log"));
    archive.openRunFiles(dir.str());

    storeBeacon(test::exampleRecord());
    auto lines = crlfLines(test::readFile(textLog));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "KESTREL (ZZ0KR) beacon data log file");
    EXPECT_EQ(lines[2], kBeaconTextLogTitle);
    EXPECT_EQ(lines[4] + "\r\n", kExampleLine);

    const fs::path first = rawData / "KR7_raw_2024_03_05_141507_UTC.KR7";
    const std::string firstBytes = test::readFile(first);
    ASSERT_EQ(firstBytes.size(), 132u);
    EXPECT_EQ(firstBytes.substr(110), std::string(" NORTHERN SKY BEACON \0", 22));

    // A second beacon in the same second: one more line, a second raw file.
    BeaconRecord second = test::exampleRecord();
    second.setFlightTime(86401);
    storeBeacon(second);
    lines = crlfLines(test::readFile(textLog));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(lines[5].starts_with("86401\t"));
    EXPECT_EQ(test::readFile(first), firstBytes);
    const fs::path secondFile = rawData / "KR7_raw_2024_03_05_141507_UTC_2.KR7";
    EXPECT_EQ(archive.LastRawFrameFilePath(), secondFile.string());
    EXPECT_EQ(BeaconRecord::fromBytes(test::readFile(secondFile).data() + 4).FlightTime(), 86401u);
    const int folderChecks = files.folderChecks;
    storeBeacon(second);
    EXPECT_TRUE(fs::exists(rawData / "KR7_raw_2024_03_05_141507_UTC_3.KR7"));
    EXPECT_EQ(files.folderChecks, folderChecks) << "each folder is made sure of once";
    EXPECT_EQ(files.open.size(), 2u) << "the RawByteLog, and the BeaconTextLog held between beacons";
}

TEST_F(ArchiveTest, ManyBeaconsInOneSecondGetDistinctNamesWithoutRetestingTakenOnes) {
    archive.openRunFiles(dir.str());
    files.existsChecks = 0;
    for (int i = 0; i < 300; ++i)
        archive.aSaveBinFileExecute(rawFrameOf(test::exampleRecord()), clock.utc);
    EXPECT_TRUE(fs::exists(rawData / "KR7_raw_2024_03_05_141507_UTC_300.KR7"));
    EXPECT_EQ(std::distance(fs::directory_iterator(rawData), fs::directory_iterator()), 300);
    EXPECT_EQ(files.existsChecks, 0) << "the exclusive create reports a taken name itself";
}

// Stamped with the time given (the beacon's receive time), whatever the
// clock reads when the file is written.
TEST_F(ArchiveTest, EachFileTakesTheTimeItIsGiven) {
    archive.openRunFiles(dir.str());
    clock.utc = {2024, 3, 6, 3, 9, 0, 0, 0};
    archive.aSaveTempFileExecute(test::exampleRecord(), {2024, 3, 2, 5, 23, 59, 59, 900});
    archive.aSaveBinFileExecute(rawFrameOf(test::exampleRecord()), {2024, 3, 3, 6, 0, 0, 0, 100});
    EXPECT_TRUE(crlfLines(test::readFile(textLog)).back().ends_with("\t2024-03-05\t23:59:59"));
    EXPECT_TRUE(fs::exists(rawData / "KR7_raw_2024_03_06_000000_UTC.KR7"));
    EXPECT_EQ(archive.UtcStamp().day, 6);
}

TEST_F(ArchiveTest, DeletedLogIsRecreatedWithHeaderAndExistingLogGetsNoSecondHeader) {
    archive.openRunFiles(dir.str());
    fs::create_directories(textLog.parent_path());
    { std::ofstream(textLog, std::ios::binary) << "earlier\r\n"; }
    archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc);
    EXPECT_EQ(test::readFile(textLog), "earlier\r\n" + kExampleLine);
#ifdef _WIN32
    GTEST_SKIP() << "Windows does not delete a log the program holds open";
#endif

    fs::remove_all(telemetry / "Decoded");
    archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc);
    EXPECT_EQ(test::readFile(textLog), beaconTextLogHeader() + kExampleLine);
}

// Two programs on one folder, started in the same second: no file is shared,
// and the second leaves what looks left over alone (it may be the first's
// work in progress).
TEST_F(ArchiveTest, SecondRunInTheSameSecondGetsFilesOfItsOwn) {
    archive.openRunFiles(dir.str());
    archive.appendRawByte('1');
    const fs::path inFlight = rawData / "KR7_raw_2024_03_05_141507_UTC.KR7.part";
    fs::create_directories(rawData);
    test::writeFile(inFlight, "the first program's, being written");
    Archive other(files, clock);
    other.openRunFiles(dir.str(), true);
    other.appendRawByte('2');
    const fs::path rawLog = telemetry / "raw_log";
    EXPECT_EQ(test::readFile(rawLog / "log_raw_2024_03_05_141507_UTC.KR7"), "1");
    EXPECT_EQ(test::readFile(rawLog / "log_raw_2024_03_05_141507_UTC_2.KR7"), "2");
    EXPECT_EQ(other.RawByteLogPath(), (rawLog / "log_raw_2024_03_05_141507_UTC_2.KR7").string());
    storeBeacon(test::exampleRecord());
    other.aSaveTempFileExecute(test::exampleRecord(), clock.utc);
    other.aSaveBinFileExecute(rawFrameOf(test::exampleRecord()), clock.utc);
    EXPECT_EQ(test::readFile(textLog), beaconTextLogHeader() + kExampleLine);
    EXPECT_EQ(test::readFile(telemetry / "Decoded" / "KR7_beacon_2024_03_05_141507_UTC_2.txt"),
              beaconTextLogHeader() + kExampleLine);
    EXPECT_EQ(test::readFile(inFlight), "the first program's, being written");
    EXPECT_EQ(test::readFile(rawData / "KR7_raw_2024_03_05_141507_UTC.KR7").size(), kBeaconFrameSize + 1);
    EXPECT_EQ(test::readFile(rawData / "KR7_raw_2024_03_05_141507_UTC_2.KR7").size(), kBeaconFrameSize + 1);
}

TEST_F(ArchiveTest, FileWhereTheFoldersMustBeFailsEverything) {
    { std::ofstream(telemetry) << "in the way"; }
    try {
        archive.openRunFiles(dir.str());
        ADD_FAILURE() << "opened a log below a plain file";
    } catch (const EInOutError& e) {
#ifndef _WIN32
        EXPECT_STREQ(e.what(), "I/O error 20 (not a directory)");
#endif
    }
    EXPECT_FALSE(archive.rawByteLogOpen());
    try {
        archive.appendRawByte(0);
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, 103);
        EXPECT_STREQ(e.what(), "I/O error 103 (file not open)");
    }
    EXPECT_THROW(archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc), EInOutError);
    EXPECT_THROW(archive.aSaveBinFileExecute(RawFrame{}, clock.utc), EInOutError);
}

#ifndef _WIN32
TEST_F(ArchiveTest, FullDiskUnderTheTextLog) {
    archive.openRunFiles(dir.str());
    fs::create_directories(textLog.parent_path());
    fs::create_symlink("/dev/full", textLog);
    try {
        archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc);
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    EXPECT_EQ(files.open.size(), 1u);
}
#endif

// A write failing part-way releases the file; the text log is cut back to
// its last whole line (and when even that fails, the next line starts on a
// line of its own), and a RawFrameFile is whole or not there at all.
TEST_F(ArchiveTest, WriteFailingPartWayReleasesTheFileAndLeavesNoHalfBeacon) {
    archive.openRunFiles(dir.str());
    files.failWrite = 1;  // header and first line go out in one write
    EXPECT_THROW(archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc), EInOutError);
    EXPECT_EQ(files.open.size(), 1u);
    EXPECT_EQ(test::filesIn(textLog.parent_path()).size(), 0u) << "a new log appears whole or not at all";

    files.writes = 0;
    EXPECT_THROW(archive.aSaveBinFileExecute(rawFrameOf(test::exampleRecord()), clock.utc), EInOutError);
    EXPECT_EQ(files.open.size(), 1u);
    EXPECT_EQ(test::filesIn(rawData).size(), 0u);

    files.failWrite = 0;
    archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc);
    const std::string whole = test::readFile(textLog);
    files.failWrite = 1;  // a line failing part-way in an existing log
    files.writes = 0;
    EXPECT_THROW(archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc), EInOutError);
    EXPECT_EQ(test::readFile(textLog), whole);
    files.failCut = true;
    files.writes = 0;
    EXPECT_THROW(archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc), EInOutError);
    const std::string halfLine = test::readFile(textLog);
    EXPECT_EQ(halfLine.size(), whole.size() + kExampleLine.size() / 2);
    files.failWrite = 0;
    storeBeacon(test::exampleRecord());
    EXPECT_EQ(test::readFile(textLog), halfLine + "\r\n" + std::string(kExampleLine));
    EXPECT_EQ(fs::file_size(rawData / "KR7_raw_2024_03_05_141507_UTC.KR7"), 132u);
}

TEST_F(ArchiveTest, AFolderInPlaceOfTheTextLogGivesItASuffixedName) {
    archive.openRunFiles(dir.str());
    fs::create_directories(textLog);
    storeBeacon(test::exampleRecord());
    EXPECT_EQ(test::readFile(archive.BeaconTextLogPath()), beaconTextLogHeader() + std::string(kExampleLine));
    EXPECT_EQ(fs::path(archive.BeaconTextLogPath()).filename(), "KR7_beacon_2024_03_05_141507_UTC_2.txt");
}

TEST_F(ArchiveTest, TextLogThatCannotBeCreatedLosesOnlyThatStep) {
    archive.openRunFiles(dir.str());
    files.failCreate = true;
    try {
        archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc);
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File access denied");
    }
    EXPECT_TRUE(fs::is_directory(textLog.parent_path()));
    EXPECT_FALSE(fs::exists(textLog));
    files.failCreate = false;
    archive.aSaveTempFileExecute(test::exampleRecord(), clock.utc);
    EXPECT_EQ(crlfLines(test::readFile(textLog)).size(), 5u);
}

// A kill at any step of storing a beacon never leaves a half file under a
// final name; the next start removes what the kill left.
TEST(ArchiveKill, NoHalfFileUnderAFinalNameAndNoLeftoverAfterTheNextStart) {
    const BeaconRecord record = test::exampleRecord();
    bool killed = true;
    int killAt = 1;
    for (; killed; ++killAt) {
        test::MemoryFileSystem files;
        test::FixedClock clock;
        Archive archive{files, clock};
        archive.openRunFiles(files.currentDirectory());
        files.changesLeft = killAt;
        try {
            archive.aSaveTempFileExecute(record, clock.utc);
            archive.aSaveBinFileExecute(rawFrameOf(record), clock.utc);
            killed = false;
        } catch (const test::MemoryFileSystem::Killed&) {
        }
        files.revive();
        for (const auto& [path, content] : files.files) {
            if (path.ends_with(kTemporarySuffix))
                continue;
            if (path.find("raw_data") != std::string::npos) {
                EXPECT_EQ(content.size(), kBeaconFrameSize + 1) << path << ", kill at change " << killAt;
            } else if (path.find("Decoded") != std::string::npos) {
                EXPECT_EQ(content, beaconTextLogHeader() + kExampleLine) << "kill at change " << killAt;
            }
        }
        Archive next{files, clock};
        next.openRunFiles(files.currentDirectory());
        for (const auto& [path, content] : files.files)
            EXPECT_FALSE(path.ends_with(kTemporarySuffix)) << path << " left after the kill at change " << killAt;
    }
    EXPECT_GT(killAt, 5) << "the kills came between create, write, close and rename";
}
