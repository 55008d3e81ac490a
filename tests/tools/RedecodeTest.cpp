// kestrel-redecode against the live code path: the same bytes through the
// program's frame finder, decoder and archive one by one, then through the tool.
//
// In order: a live run through the program's own receive path; the tool
// against it (beacons and files, inputs left alone, stamps, CSV, a full disk);
// then the engine itself against re-decoding (the same time per beacon).
#include "redecode/Redecode.h"
#ifdef KESTREL_DECODER
#include "SimPort.h"
#endif
#include "RunRedecode.h"
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/FakeComDevice.h"
#include "support/FakeView.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/ForwardingFileSystem.h"
#include "support/TestMailbox.h"

#include "station/Station.h"
#include "telemetry/Archive.h"
#include "telemetry/Decoder.h"
#include "telemetry/FrameFinder.h"
#include "telemetry/InOutError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <map>
#include <regex>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using namespace kestrel;
using test::runRedecode;

namespace {

const char* const kRawLogName = "log_raw_2024_03_05_141507_UTC.KR7";
const char* const kTextLogName = "KR7_beacon_2024_03_05_141507_UTC.txt";

// What the window does with each received byte, without the window.
class LiveRun {
public:
    explicit LiveRun(const fs::path& base) { archive.openRunFiles(base.string()); }
    void feed(const std::string& bytes) {
        for (char c : bytes) {
            archive.appendRawByte(static_cast<std::uint8_t>(c));
            if (const FoundFrame* f = finder.aRXBufferAnalyse2Execute(static_cast<std::uint8_t>(c))) {
                decoder.aDecodeTelemetry1Execute(f->record, clock.utc);
                archive.aSaveTempFileExecute(f->record, clock.utc);
                archive.aSaveBinFileExecute(f->raw, clock.utc);
            }
        }
        archive.closeRawByteLog();
    }

    test::FixedClock clock;
    Archive archive{systemFileSystem(), clock};
    Decoder decoder{clock};
    FrameFinder finder;
};

std::string frame(std::uint32_t flightTime) {
    BeaconRecord r = test::exampleRecord();
    r.setFlightTime(flightTime);
    return buildBeaconFrame(kTestFrameHeader, r);
}

// A BeaconTextLog line without its date and time fields.
std::string withoutTime(const std::string& line) { return line.substr(0, line.rfind('\t', line.rfind('\t') - 1)); }

std::vector<std::string> linesOf(const fs::path& log) {
    std::vector<std::string> lines;
    std::istringstream in(test::readFile(log));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> linesWithoutTime(const fs::path& log) {
    std::vector<std::string> lines = linesOf(log);
    for (auto& line : lines)
        line = withoutTime(line);
    return lines;
}

class RedecodeTool : public ::testing::Test {
protected:
    void SetUp() override {
        // Noise, two beacons back to back, a damaged one, a marker alone, one
        // more beacon, and the start of a beacon cut off by the end of the run.
        std::string damaged = frame(3);
        damaged.erase(70, 1);
        stream = "\r\ncmd:" + std::string(40, '\xff') + frame(1) + frame(2) + std::string(30, 'n') + damaged +
                 std::string(120, 'z') + std::string(TrailerMarker) + frame(4) + frame(5).substr(0, 100);
        LiveRun(scratch / "live").feed(stream);
        rawLog = scratch / "live" / "Telemetry" / "raw_log" / kRawLogName;
    }

    test::ScratchDir scratch{"kestrel-redecode"};
    std::string stream;
    fs::path rawLog;
    std::string output;
};

}  // namespace

TEST_F(RedecodeTool, GivesTheBeaconsAndFilesTheLiveArchiveGave) {
    const fs::path live = scratch / "live" / "Telemetry";
    const fs::path again = scratch / "again" / "Telemetry";
    ASSERT_EQ(test::readFile(rawLog), stream);
    ASSERT_EQ(runRedecode({"--out", (scratch / "again").string(), rawLog.string()}, scratch.path(), output), 0)
        << output;
    EXPECT_NE(output.find(std::to_string(stream.size()) + " bytes, 3 beacons, 2 frames rejected"), std::string::npos)
        << output;

    const auto liveLines = linesWithoutTime(live / "Decoded" / kTextLogName);
    EXPECT_EQ(liveLines.size(), 4u + 3u);
    EXPECT_EQ(linesWithoutTime(again / "Decoded" / kTextLogName), liveLines);
    const auto liveFrames = test::filesIn(live / "raw_data");
    const auto frames = test::filesIn(again / "raw_data");
    ASSERT_EQ(frames.size(), 3u);
    ASSERT_EQ(frames.size(), liveFrames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].filename(), liveFrames[i].filename());
        EXPECT_EQ(test::readFile(frames[i]), test::readFile(liveFrames[i])) << frames[i];
    }
    EXPECT_FALSE(fs::exists(again / "raw_log"));

    // CSV from the re-decoded BeaconTextLog and from the RawByteLog itself.
    const fs::path csv = scratch / "beacons.csv";
    ASSERT_EQ(runRedecode({"--csv", csv.string(), (again / "Decoded" / kTextLogName).string(), rawLog.string()},
                          scratch.path(), output),
              0)
        << output;
    EXPECT_NE(output.find("3 beacons, 0 lines skipped"), std::string::npos) << output;
    const std::string rows = test::readFile(csv);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 7);
    // --csv alone writes no tree, not even the default one beside the input.
    EXPECT_FALSE(fs::exists(rawLog.parent_path() / "log_raw_2024_03_05_141507_UTC_redecoded"));
}

// A run that went on in a piece, given as a shell lists raw_log/*: one
// recording, the beacon across the cut included; the piece is said to be read
// with its run. Given alone, the first piece brings its pieces along.
TEST_F(RedecodeTool, ReadsARunInPiecesAsOneRecording) {
    const std::size_t cut = stream.find(frame(2)) + 50;  // inside the second beacon
    const fs::path piece = rawLog.parent_path() / "log_raw_2024_03_05_141507_UTC_part2.KR7";
    test::writeFile(rawLog, stream.substr(0, cut));
    test::writeFile(piece, stream.substr(cut));
    const fs::path csv = scratch / "beacons.csv";
    for (const auto& inputs :
         {std::vector<std::string>{rawLog.string(), piece.string()},
          std::vector<std::string>{piece.string(), rawLog.string()}, std::vector<std::string>{rawLog.string()}}) {
        std::vector<std::string> args{"--csv", csv.string()};
        args.insert(args.end(), inputs.begin(), inputs.end());
        ASSERT_EQ(runRedecode(args, scratch.path(), output), 0) << output;
        EXPECT_NE(output.find(rawLog.string() + ": " + std::to_string(stream.size()) + " bytes in 2 pieces, 3 beacons"),
                  std::string::npos)
            << output;
        if (inputs.size() == 2) {
            EXPECT_NE(output.find(piece.string() + ": a piece of a run, read with its first piece"), std::string::npos)
                << output;
        }
        const std::string rows = test::readFile(csv);
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + 3) << rows;
    }
}

TEST_F(RedecodeTool, NeverWritesIntoItsInputsArchiveNorAfterAnUnreadableFile) {
    const fs::path rawLogFolder = rawLog.parent_path();
    EXPECT_EQ(runRedecode({"--out", rawLogFolder.string(), rawLog.string()}, scratch.path(), output), 2);
    EXPECT_NE(output.find("lies inside the archive"), std::string::npos) << output;
    EXPECT_EQ(runRedecode({"--out", (scratch / "live").string(), rawLog.string()}, scratch.path(), output), 2);
    EXPECT_NE(output.find("already holds a Telemetry folder that kestrel-redecode did not write"), std::string::npos)
        << output;
    EXPECT_EQ(test::filesIn(rawLogFolder).size(), 1u);

    // No --out: a new folder beside the Telemetry folder, not inside it; but
    // only when every input could be read.
    const fs::path tree = scratch / "live" / "log_raw_2024_03_05_141507_UTC_redecoded";
    const fs::path missing = scratch / "log_raw_2024_01_01_000000_UTC.KR7";
    EXPECT_EQ(runRedecode({missing.string(), rawLog.string()}, scratch.path(), output), 1);
    EXPECT_NE(output.find(missing.string() + ": no such file"), std::string::npos) << output;
    EXPECT_NE(
        output.find("nothing put in place, the run did not succeed: " + (tree / "Telemetry").string() + " not written"),
        std::string::npos)
        << output;
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_EQ(runRedecode({rawLog.string()}, scratch.path(), output), 0);
    EXPECT_EQ(test::filesIn(tree / "Telemetry" / "raw_data").size(), 3u) << output;
    EXPECT_EQ(test::filesIn(scratch / "live" / "Telemetry").size(), 3u);
}

// A capture under a name of its own and without a time index: --start, else
// the file's modification time; the default tree goes beside the file.
TEST_F(RedecodeTool, DecodesAnyRecordingStampedByStartOrModificationTime) {
    const fs::path capture = scratch / "my capture.bin";
    fs::copy_file(rawLog, capture);
    fs::last_write_time(capture,
                        fs::file_time_type::clock::from_sys(std::chrono::sys_days{std::chrono::year{2025} / 6 / 7} +
                                                            std::chrono::hours{8} + std::chrono::seconds{9}));
    ASSERT_EQ(
        runRedecode({"--csv", "out.csv", "--start", "2024-12-31 23:59:58", capture.string()}, scratch.path(), output),
        0)
        << output;
    EXPECT_NE(output.find("3 beacons, 2 frames rejected, time from --start, 2024-12-31 23:59:58 UTC"),
              std::string::npos)
        << output;
    const std::string csv = test::readFile(scratch / "out.csv");
    EXPECT_NE(csv.find("\n2024-12-31T23:59:58.000Z,1,"), std::string::npos) << csv;

    ASSERT_EQ(runRedecode({capture.string()}, scratch.path(), output), 0) << output;
    EXPECT_NE(output.find("time from its modification time, 2025-06-07 08:00:09 UTC"), std::string::npos) << output;
    EXPECT_EQ(test::filesIn(scratch / "my capture_redecoded" / "Telemetry" / "Decoded").front().filename(),
              "KR7_beacon_2025_06_07_080009_UTC.txt");
}

TEST(RedecodeCsv, WorkedExampleRowAndNonFiniteNumbers) {
    const SystemTime t{2024, 3, 0, 5, 14, 15, 7, 250};
    BeaconLogEntry e = beaconLogEntry(test::exampleRecord(), t);
    // Tcpu: -2000 / 340 + 36.53, every digit of the double.
    const std::string row =
        "2024-03-05T14:15:07.250Z,86400,6850,95,200,12.5,-3,0,54.9,23.9333,400050,1005,1,30.64764705882353,18,-25,-21,"
        "0,"
        "0,120,0,385,1,22,333,4000,555,6,0x01000AFF00001080,0,0,,\n";
    EXPECT_EQ(redecode::csvRow(e), row);
    const std::string header = redecode::csvHeader();
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), std::count(row.begin(), row.end(), ','));

    // Stations' names as SatNOGS DB gives them are free text.
    e.observers = "N0CALL-JN49ar;Club \"Kestrel\", Lab-JO62";
    e.receptions = 2;
    EXPECT_TRUE(redecode::csvRow(e).ends_with(",0,0,\"N0CALL-JN49ar;Club \"\"Kestrel\"\", Lab-JO62\",2\n"))
        << redecode::csvRow(e);

    e.bx = std::nanf("");
    e.by = INFINITY;
    e.latitude = -INFINITY;
    EXPECT_NE(redecode::csvRow(e).find(",nan,inf,0,-inf,"), std::string::npos) << redecode::csvRow(e);
}

namespace {

// A 64 KB tmpfs that fills up at once; mounting one needs root.
class FullDisk {
public:
    explicit FullDisk(const fs::path& dir) : dir_(dir) {
        fs::create_directories(dir);
        mounted_ = std::system(("mount -t tmpfs -o size=64k tmpfs '" + dir.string() + "' 2>/dev/null").c_str()) == 0;
    }
    ~FullDisk() {
        if (mounted_ && std::system(("umount '" + dir_.string() + "'").c_str()) != 0)
            ADD_FAILURE() << "umount " << dir_;
    }
    bool mounted() const { return mounted_; }

private:
    fs::path dir_;
    bool mounted_ = false;
};

}  // namespace

TEST_F(RedecodeTool, OutputThatDidNotFitIsNeverLeftLookingComplete) {
    std::string many;
    for (std::uint32_t i = 0; i < 600; ++i)
        many += frame(i);
    const fs::path log = scratch / kRawLogName;
    test::writeFile(log, many);
    const FullDisk full(scratch / "full");
    if (!full.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";

    const fs::path csv = scratch / "full" / "beacons.csv";
    EXPECT_EQ(runRedecode({"--csv", csv.string(), "--out", (scratch / "full" / "tree").string(), log.string()},
                          scratch.path(), output),
              1);
    EXPECT_NE(output.find(csv.string() + " not written whole: Disk full"), std::string::npos) << output;
    EXPECT_NE(output.find("600 beacons"), std::string::npos) << output;
    EXPECT_NE(output.find("(no tree written: Disk full)"), std::string::npos) << output;
    EXPECT_EQ(output.find("rows written"), std::string::npos) << output;
    // Nothing is left of either, not even under a temporary name.
    EXPECT_EQ(test::filesIn(scratch / "full"), std::vector<fs::path>{}) << output;
}

namespace {

// Ticks and the calendar move together, as much as the test says.
class SteadyClock final : public IClock {
public:
    std::int64_t ms = utcMilliseconds({2024, 3, 2, 5, 14, 15, 7, 0});
    std::uint32_t ticks = 5000;
    void advance(std::int64_t by) {
        ms += by;
        ticks += std::uint32_t(by);
    }
    SystemTime utcNow() override { return utcFromMilliseconds(ms); }
    SystemTime localNow() override { return utcNow(); }
    SystemTime localTime(const SystemTime& utc) override { return utc; }
    std::uint32_t tickCount() override { return ticks; }
};

class ScratchFiles final : public test::ForwardingFileSystem {
public:
    explicit ScratchFiles(std::string dir) : dir_(std::move(dir)) {}
    std::string currentDirectory() override { return dir_; }
    // RawByteLogs may grow to this many bytes (EFBIG past it), as on FAT32.
    std::uint64_t rawLogLimit = UINT64_MAX;

    FileHandle createFile(const std::string& p) override {
        const FileHandle f = target_.createFile(p);
        if (p.find("raw_log") != std::string::npos && p.ends_with(".KR7"))
            rawLogs_[f] = 0;
        return f;
    }
    void write(FileHandle f, const void* data, std::size_t size) override {
        const auto log = rawLogs_.find(f);
        if (log == rawLogs_.end() || log->second + size <= rawLogLimit) {
            target_.write(f, data, size);
            if (log != rawLogs_.end())
                log->second += size;
            return;
        }
        const std::size_t fits = static_cast<std::size_t>(rawLogLimit - std::min(log->second, rawLogLimit));
        target_.write(f, data, fits);
        log->second += fits;
        EInOutError e = ioErrorFromErrno(EFBIG);
        e.BytesWritten = fits;
        throw e;
    }

private:
    std::string dir_;
    std::map<FileHandle, std::uint64_t> rawLogs_;
};

// The engine on a fake line, fed `stream` a chunk every 30 ms; its archive
// below `folder`. The live BeaconTextLog's path.
std::string liveRun(const test::ScratchDir& folder, ScratchFiles& files, const std::string& stream) {
    test::writeFile(folder / "RS232Settings.ini", test::SettingsFor("ttyTNC"));
    SteadyClock clock;
    test::FakeDeviceLog log;
    log.scriptedEvents = true;
    test::TestMailbox mailbox;
    test::FakeView view;
    StationSeams seams;
    seams.clock = &clock;
    seams.fileSystem = &files;
    seams.device = std::make_unique<test::FakeComDevice>(log);
    seams.mailbox = &mailbox;
    Station station(view, std::move(seams));
    station.FormCreate();
    for (std::size_t at = 0; at < stream.size(); at += 37) {
        clock.advance(30);
        log.rx += stream.substr(at, 37);
        station.CPortRxByte();
    }
    station.FormClose();
    EXPECT_EQ(station.BeaconCounter(), 60);
    return station.archive().BeaconTextLogPath();
}

std::string sixtyBeacons() {
    std::string stream;
    for (std::uint32_t i = 1; i <= 60; ++i)
        stream += frame(i) + "noise\r\n";
    return stream;
}

// Each beacon's line of the tree below `out` is its line in the live log.
void expectSameLines(const std::string& liveLog, const fs::path& out) {
    const auto live = linesOf(liveLog);
    const auto again = linesOf(test::filesIn(out / "Telemetry" / "Decoded").front());
    ASSERT_EQ(live.size(), 4u + 60u);
    ASSERT_EQ(again.size(), live.size());
    for (std::size_t i = 4; i < live.size(); ++i)
        EXPECT_EQ(again[i], live[i]) << "beacon " << i - 3;
}

}  // namespace

// The engine reads a chunk every 30 ms while the time index takes an entry
// every 100 ms at most, so many beacons end in a chunk the index has no entry
// for, some just past a full second. Decoded again from the index, every
// beacon still gets the time the live BeaconTextLog gave it.
TEST(RedecodeLive, TheEngineAndReDecodingGiveEveryBeaconTheSameTime) {
    test::ScratchDir scratch("kestrel-redecode-engine");
    ScratchFiles files(scratch.str());
    const std::string stream = sixtyBeacons();
    const std::string liveLog = liveRun(scratch, files, stream);

    const std::string rawLog = test::rawByteLogsIn(scratch / "Telemetry").at(0).string();
    redecode::Sinks sinks;
    sinks.outDir = (scratch / "again").string();
    sinks.times = parseTimeIndex(test::readFile(timeIndexPath(rawLog))).entries;
    ASSERT_LT(sinks.times.size(), stream.size() / 37 / 2) << "the index holds fewer entries than chunks";
    redecode::redecodeRawByteLog(rawLog, *redecode::rawByteLogStamp(fs::path(rawLog).filename().string()), sinks);
    expectSameLines(liveLog, scratch / "again");
}

// A live RawByteLog that met the file-size limit went on in pieces; decoded
// again as one run, the beacons cut in two come back too, and every beacon
// with its live time (each piece's index counted from the run's start).
TEST(RedecodeLive, ARunInPiecesComesBackAsOneWithTheSameTimes) {
    test::ScratchDir scratch("kestrel-redecode-pieces");
    ScratchFiles files(scratch.str());
    const std::string stream = sixtyBeacons();
    files.rawLogLimit = stream.size() / 3 - 50;
    const std::string liveLog = liveRun(scratch, files, stream);

    const auto logs = test::rawByteLogsIn(scratch / "Telemetry");
    ASSERT_EQ(logs.size(), 4u);
    const std::vector<std::string> pieces = redecode::runPieces(logs[0].string());
    ASSERT_EQ(pieces.size(), 4u);
    std::vector<redecode::TimeIndexFile::LogPiece> sized;
    for (const std::string& p : pieces) {
        EXPECT_EQ(redecode::isLaterPiece(fs::path(p).filename().string()), &p != &pieces[0]) << p;
        sized.push_back({p, fs::file_size(p)});
    }
    EXPECT_EQ(redecode::rawByteLogStamp(fs::path(pieces[3]).filename().string()),
              redecode::rawByteLogStamp(logs[0].filename().string()));
    redecode::TimeIndexFile index(sized);
    redecode::Sinks sinks;
    sinks.outDir = (scratch / "again").string();
    sinks.nextTime = [&index](TimeIndexEntry& e) { return index.next(e); };
    const redecode::Summary s =
        redecode::redecodeRawByteLog(pieces, *redecode::rawByteLogStamp(logs[0].filename().string()), sinks);
    EXPECT_EQ(s.bytes, stream.size());
    expectSameLines(liveLog, scratch / "again");
}

#ifdef KESTREL_DECODER
namespace {

// Date and time fields of a BeaconTextLog line, in ms since 1970.
std::int64_t lineTime(const std::string& line) {
    SystemTime t;
    unsigned y, mo, d, h, mi, s;
    EXPECT_EQ(std::sscanf(line.substr(line.rfind('\t', line.rfind('\t') - 1)).c_str(), "\t%u-%u-%u\t%u:%u:%u", &y, &mo,
                          &d, &h, &mi, &s),
              6)
        << line;
    t = {std::uint16_t(y),  std::uint16_t(mo), 0, std::uint16_t(d), std::uint16_t(h),
         std::uint16_t(mi), std::uint16_t(s),  0};
    return utcMilliseconds(t);
}

}  // namespace

// The real program receives beacons more than a second apart; its RawByteLog
// decoded again gives the BeaconTextLog it wrote, times included, even with a
// torn entry at the end of the time index (a program killed mid-write).
TEST(RedecodeLive, BeaconTextLogOfTheLiveRunComesBackWithItsTimes) {
    test::ScratchDir scratch("kestrel-redecode-live");
    const fs::path work = scratch / "station";
    fs::create_directories(work);
    sim::SimPort pty = sim::SimPort::createPty();
    sim::writeSettingsIni(work.string(), pty.portName(), 9600);
    test::Child decoder({KESTREL_DECODER}, work, scratch / "decoder.out", true);
    ASSERT_TRUE(test::eventually([&] { return pty.peerConfigured() || !decoder.running(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(decoder.running()) << test::readFile(scratch / "decoder.out");

    std::string stream;
    for (std::uint32_t i = 1; i <= 4; ++i) {
        const std::string bytes = frame(i) + "noise\r\n";
        for (std::size_t sent = 0; sent < bytes.size();)
            sent += pty.writeSome(bytes.data() + sent, bytes.size() - sent);
        stream += bytes;
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }
    const fs::path rawLogs = work / "Telemetry" / "raw_log";
    ASSERT_TRUE(test::eventually(
        [&] {
            const auto logs = test::filesIn(rawLogs);
            return !logs.empty() && fs::file_size(logs.front()) >= stream.size();
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(decoder.terminate(), 0) << test::readFile(scratch / "decoder.out");

    const auto files = test::filesIn(rawLogs);
    ASSERT_EQ(files.size(), 2u);
    ASSERT_EQ(files[1], fs::path(files[0].string() + ".tidx"));
    test::writeFile(files[1], test::readFile(files[1]) + "\xf3");
    std::string output;
    ASSERT_EQ(runRedecode({"--out", (scratch / "again").string(), files[0].string()}, scratch.path(), output), 0)
        << output;
    EXPECT_NE(output.find("4 beacons, 0 frames rejected, times from its time index (1 torn entries left out)"),
              std::string::npos)
        << output;

    const auto live = linesOf(test::filesIn(work / "Telemetry" / "Decoded").front());
    const auto again = linesOf(test::filesIn(scratch / "again" / "Telemetry" / "Decoded").front());
    ASSERT_EQ(again.size(), live.size());
    ASSERT_EQ(live.size(), 4u + 4u);
    for (std::size_t i = 4; i < live.size(); ++i)
        EXPECT_EQ(again[i], live[i]) << "line for line, times included";
    EXPECT_GE(lineTime(live.back()) - lineTime(live[4]), 3000);
}
#endif

#ifndef _WIN32
// Paths an operator's machine can hold: each failure is said with its path and
// the system's reason and ends with 1, never an abort; an index the tool cannot
// trust is passed over with a sentence and the log decoded by its name's time.
TEST_F(RedecodeTool, HostilePathsAreSaidWithTheirReasonAndNeverAbort) {
    const fs::path loop = scratch / "loop";
    fs::create_symlink(loop, loop);
    EXPECT_EQ(runRedecode({"--out", loop.string(), rawLog.string()}, scratch.path(), output), 1);
    EXPECT_NE(output.find("--out " + loop.string() + ": Too many levels of symbolic links"), std::string::npos)
        << output;
    EXPECT_EQ(runRedecode({"--csv", "-", loop.string()}, scratch.path(), output), 1);
    EXPECT_NE(output.find(loop.string() + ": Too many levels of symbolic links"), std::string::npos) << output;

    // The index: a FIFO would never end, one larger than the log could need
    // is not read either; a link loop where the default tree would go is
    // passed by.
    const fs::path log = scratch / kRawLogName;
    fs::copy_file(rawLog, log);
    const fs::path index = timeIndexPath(log.string());
    ASSERT_EQ(::mkfifo(index.c_str(), 0600), 0);
    fs::create_symlink(scratch / "log_raw_2024_03_05_141507_UTC_redecoded",
                       scratch / "log_raw_2024_03_05_141507_UTC_redecoded");
    EXPECT_EQ(runRedecode({log.string()}, scratch.path(), output), 0);
    EXPECT_NE(output.find(index.string() + " is not a regular file; not read"), std::string::npos) << output;
    EXPECT_NE(output.find("3 beacons, 2 frames rejected, time from its name, 2024-03-05 14:15:07 UTC (its time index "
                          "not read) -> " +
                          (scratch / "log_raw_2024_03_05_141507_UTC_redecoded_2" / "Telemetry").string()),
              std::string::npos)
        << output;
    fs::remove(index);
    test::writeFile(index, std::string(kTimeIndexHeader));
    fs::resize_file(index, 100 << 20);
    EXPECT_EQ(runRedecode({"--csv", "-", log.string()}, scratch.path(), output), 0);
    EXPECT_NE(output.find("holds 104857600 bytes, more than any index of this log could"), std::string::npos) << output;

    // A name so long that "_redecoded" would not fit is cut.
    const fs::path longLog = scratch / (std::string(250, 'k') + ".KR7");
    fs::copy_file(rawLog, longLog);
    EXPECT_EQ(runRedecode({"--start", "2024-03-05 14:15:07", longLog.string()}, scratch.path(), output), 0) << output;
    EXPECT_TRUE(fs::is_directory(scratch / (std::string(200, 'k') + "_redecoded") / "Telemetry")) << output;

    // A folder that cannot be made is named, with its reason.
    EXPECT_EQ(runRedecode({"--out", "/proc/kestrel-tree", log.string()}, scratch.path(), output), 1);
    EXPECT_NE(output.find("(no tree written: cannot make the folder /proc/kestrel-tree: "), std::string::npos)
        << output;
}
#endif
