// The platform file system behind the seam, on real files.
#include "telemetry/FileSystem.h"
#include "telemetry/StationLock.h"

#include "telemetry/InOutError.h"

#include "support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>

using namespace kestrel;

namespace {

std::string join(const test::ScratchDir& dir, const std::string& name) { return dir.str() + kPathSeparator + name; }

int codeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EInOutError& e) {
        return e.ErrorCode;
    }
    return 0;
}

}  // namespace

TEST(FileSystem, CreatesWritesAppendsAndNeverReplaces) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    const std::string sub = join(dir, "a");
    EXPECT_FALSE(fs.directoryExists(sub));
    fs.createDirectory(sub);
    EXPECT_TRUE(fs.directoryExists(sub));
    EXPECT_FALSE(fs.fileExists(sub));

    const std::string file = sub + kPathSeparator + "f.bin";
    FileHandle h = fs.createFile(file);
    fs.write(h, "abc", 3);
    fs.close(h);
    EXPECT_TRUE(fs.fileExists(file));
    EXPECT_EQ(codeOf([&] { fs.createFile(file); }), kIoFileExists);

    h = fs.openForAppend(file);
    fs.write(h, "de", 2);
    fs.close(h);
    EXPECT_EQ(test::readFile(file), "abcde");
    fs.cutTail(file, 1);
    EXPECT_EQ(test::readFile(file), "abcd");
    h = fs.openForAppend(file);
    fs.write(h, "e", 1);
    fs.close(h);
    EXPECT_FALSE(fs.currentDirectory().empty());

    const std::string other = sub + kPathSeparator + "g.bin";
    fs.close(fs.createFile(other));
    EXPECT_EQ(codeOf([&] { fs.renameNoReplace(other, file); }), kIoFileExists);
    EXPECT_EQ(test::readFile(file), "abcde");
    fs.createDirectory(sub + kPathSeparator + "folder");
    fs.renameNoReplace(other, sub + kPathSeparator + "h.bin");
    std::vector<std::string> names = fs.fileNames(sub);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"f.bin", "h.bin"})) << "files only";
}

// What the forwarding's outbox and the station lock use.
TEST(FileSystem, AnOwnFileIsCutBackAndALockIsHeldByOneOpenerAtATime) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    const std::string file = join(dir, "outbox.txt");
    EXPECT_EQ(codeOf([&] { fs.readFile(file); }), kIoFileNotFound);
    FileHandle h = fs.openOrCreate(file);
    fs.write(h, "one\ntwo", 7);
    fs.truncate(h, 4);
    fs.write(h, "three\n", 6);
    fs.sync(h);
    fs.close(h);
    h = fs.openOrCreate(file);  // at the end
    fs.write(h, "four\n", 5);
    fs.close(h);
    EXPECT_EQ(fs.readFile(file), "one\nthree\nfour\n");

    const std::string lock = join(dir, "kestrel.lock");
    const FileHandle first = fs.lockFile(lock);
    ASSERT_NE(first, kNoFile);
    EXPECT_EQ(fs.lockFile(lock), kNoFile);
    fs.close(first);
    const FileHandle again = fs.lockFile(lock);
    EXPECT_NE(again, kNoFile);
    fs.close(again);
}

// Each program on a station folder takes the first free slot, its lock file
// beside the Telemetry folder; an earlier version's lock inside that folder
// counts as slot 1 while held, and is removed when left behind.
TEST(StationLock, EachProgramTakesTheFirstFreeSlotOutsideTheTelemetryFolder) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    StationLock first(fs), second(fs), third(fs);
    ASSERT_EQ(first.take(dir.str()), StationLock::State::Held);
    EXPECT_EQ(first.slot(), 1);
    EXPECT_FALSE(first.shared());
    EXPECT_EQ(first.path(), join(dir, "kestrel.lock"));
    ASSERT_EQ(second.take(dir.str()), StationLock::State::Held);
    EXPECT_EQ(second.slot(), 2);
    EXPECT_TRUE(second.shared());
    first.release();
    ASSERT_EQ(third.take(dir.str()), StationLock::State::Held);
    EXPECT_EQ(third.slot(), 1);
    EXPECT_TRUE(third.shared());  // the second still runs
    second.release();
    third.release();

    const std::string legacy = join(dir, "Telemetry") + kPathSeparator + "kestrel.lock";
    const FileHandle earlier = fs.lockFile(legacy);
    ASSERT_EQ(first.take(dir.str()), StationLock::State::Held);
    EXPECT_EQ(first.slot(), 2);
    EXPECT_TRUE(first.shared());
    first.release();
    fs.close(earlier);
    ASSERT_EQ(first.take(dir.str()), StationLock::State::Held);
    EXPECT_EQ(first.slot(), 1);
    EXPECT_FALSE(first.shared());
    EXPECT_FALSE(fs.fileExists(legacy));
}

TEST(FileSystem, FailuresCarryCodeAndText) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    // A folder that is missing: the file inside cannot be created.
    const std::string missing = join(dir, "nope") + kPathSeparator + "f";
    EXPECT_NE(codeOf([&] { fs.createFile(missing); }), 0);
    EXPECT_NE(codeOf([&] { fs.openForAppend(join(dir, "absent")); }), 0);
    EXPECT_NE(codeOf([&] { fs.createDirectory(missing); }), 0);
}

#ifndef _WIN32
TEST(FileSystem, MapsErrnoToTheArchiveTexts) {
    EXPECT_STREQ(ioErrorFromErrno(EACCES).what(), "File access denied");
    EXPECT_STREQ(ioErrorFromErrno(EROFS).what(), "File access denied");
    EXPECT_EQ(ioErrorFromErrno(EPERM).ErrorCode, kIoFileAccessDenied);
    EXPECT_STREQ(ioErrorFromErrno(ENOSPC).what(), "Disk full");
    // Every other number with its words.
    EXPECT_STREQ(ioErrorFromErrno(ENOTDIR).what(), "I/O error 20 (not a directory)");
    EXPECT_STREQ(ioErrorFromErrno(EIO).what(), "I/O error 5 (input/output error)");
    EXPECT_STREQ(ioErrorFromErrno(ELOOP).what(), "I/O error 40 (too many levels of symbolic links)");
    const EInOutError tooLarge = ioErrorFromErrno(EFBIG);
    EXPECT_STREQ(tooLarge.what(), "I/O error 27 (file too large)");
    EXPECT_EQ(tooLarge.Cause, IoCause::FileTooLarge);
    EXPECT_EQ(ioErrorFromErrno(EDQUOT).Cause, IoCause::Quota);
    EXPECT_STREQ(EInOutError::fromCode(kIoFileNotOpen).what(), "I/O error 103 (file not open)");
}

TEST(FileSystem, FullDiskAndFolderThatIsAFile) {
    IFileSystem& fs = systemFileSystem();
    FileHandle h = fs.openForAppend("/dev/full");
    try {
        fs.write(h, "x", 1);
        ADD_FAILURE() << "write to /dev/full succeeded";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    fs.close(h);

    test::ScratchDir dir;
    const std::string notADir = join(dir, "plain");
    fs.close(fs.createFile(notADir));
    EXPECT_FALSE(fs.directoryExists(notADir));
    try {
        fs.createFile(notADir + "/inside");
        ADD_FAILURE() << "created a file below a plain file";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "I/O error 20 (not a directory)");
    }
}

// The disk's room as the system counts it for this user.
TEST(FileSystem, FreeSpaceOfAFolder) {
    test::ScratchDir dir;
    const auto room = systemFileSystem().freeSpace(dir.str());
    ASSERT_TRUE(room.has_value());
    EXPECT_GT(*room, 0u);
    EXPECT_FALSE(systemFileSystem().freeSpace(join(dir, "absent")).has_value());
}
#endif
