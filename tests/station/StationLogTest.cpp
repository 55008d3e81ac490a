// The station log on a file system in memory: timed lines, the last run's
// lines found again at the next start, the bound, and a log that cannot be
// written never failing its caller.

#include "station/StationLog.h"

#include "support/Fixtures.h"
#include "support/ForwardingFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "telemetry/InOutError.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

class StationLogTest : public ::testing::Test {
protected:
    std::string logText() const { return files.files.at(JoinPath("/station", StationLog::kFileName)); }

    test::MemoryFileSystem files;
    test::FixedClock clock;
};

TEST_F(StationLogTest, WritesTimedLinesAndFindsTheLastRunsAtTheNextStart) {
    {
        StationLog log(files, clock);
        ASSERT_TRUE(log.open("/station"));
        log.write("Port ttyTNC lost;\ntrying again");
    }
    const std::string first = logText();
    EXPECT_EQ(first.find("2024-03-05 14:15:07.250 UTC  kestrel-decoder "), 0u) << first;
    EXPECT_NE(first.find(" started in /station\r\n"), std::string::npos) << first;
    EXPECT_NE(first.find("\r\n2024-03-05 14:15:07.250 UTC  Port ttyTNC lost; trying again\r\n"), std::string::npos)
        << "one line per entry: " << first;

    StationLog second(files, clock);
    ASSERT_TRUE(second.open("/station"));
    ASSERT_EQ(second.previousRun().size(), 1u);
    EXPECT_EQ(StationLogText(second.previousRun()[0]), "Port ttyTNC lost; trying again");
    second.write("storing the settings failed at shut-down: Disk full");
    second.close();

    StationLog third(files, clock);
    ASSERT_TRUE(third.open("/station"));
    ASSERT_EQ(third.previousRun().size(), 1u) << "only the run before, not the ones before it";
    EXPECT_EQ(StationLogText(third.previousRun()[0]), "storing the settings failed at shut-down: Disk full");
    EXPECT_EQ(logText().find(first), 0u) << "appended, nothing replaced";
}

TEST_F(StationLogTest, AFullLogGoesAsideWholeAndStartsAgain) {
    const std::string old = JoinPath("/station", StationLog::kOldFileName);
    files.files[old] = "the one before";
    StationLog log(files, clock);
    ASSERT_TRUE(log.open("/station"));
    const std::string text(200, 'x');
    const std::size_t lineSize = 29 + text.size() + 2;  // time stamp, text, CR LF
    std::size_t written = logText().size();
    while (written + lineSize <= StationLog::kRotateSize) {
        log.write(text);
        written += lineSize;
    }
    ASSERT_EQ(logText().size(), written);
    const std::string full = logText();
    log.write(text);  // one more would take it past the bound
    EXPECT_TRUE(files.files.at(old) == full) << "the full log, replacing the one before";
    EXPECT_EQ(StationLogText(logText()), text + "\r\n");
}

// The disk refuses the log: at its creation, or a line later (a full disk).
TEST_F(StationLogTest, ALogThatCannotBeWrittenSaysWhyOnceAndFailsNothing) {
    struct Refusing : test::ForwardingFileSystem {
        using ForwardingFileSystem::ForwardingFileSystem;
        bool refuseOpen = false, refuseWrite = false;
        FileHandle openOrCreate(const std::string& p) override {
            if (refuseOpen)
                throw EInOutError::fromCode(kIoFileAccessDenied);
            return ForwardingFileSystem::openOrCreate(p);
        }
        void write(FileHandle f, const void* data, std::size_t size) override {
            if (refuseWrite)
                throw EInOutError::fromCode(kIoDiskFull);
            ForwardingFileSystem::write(f, data, size);
        }
    } disk(files);

    StationLog log(disk, clock);
    disk.refuseOpen = true;
    EXPECT_FALSE(log.open("/station"));
    EXPECT_EQ(log.problem(), "The station log " + JoinPath("/station", StationLog::kFileName) +
                                 " cannot be written: File access denied");
    log.write("goes nowhere");

    disk.refuseOpen = false;
    ASSERT_TRUE(log.open("/station"));
    disk.refuseWrite = true;
    log.write("lost to a full disk");
    EXPECT_NE(log.problem().find("could not be written: Disk full"), std::string::npos) << log.problem();
    disk.refuseWrite = false;
    log.write("room again");
    EXPECT_NE(logText().find("UTC  room again\r\n"), std::string::npos) << "later lines are still tried";
}

}  // namespace
}  // namespace kestrel
