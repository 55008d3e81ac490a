// The archive's file operations on Win32: binary bytes, error texts from Win32 codes.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "Utf16Win32.h"
#include "support/Files.h"
#include "support/UnderWine.h"
#include "telemetry/FileSystem.h"
#include "telemetry/InOutError.h"

namespace kestrel {
namespace {

std::string errorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const EInOutError& e) {
        return e.what();
    }
    return "no error";
}

TEST(FileSystemWin32, WritesEveryByteValueUnchangedOneWriteEach) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    const std::string path = dir.str() + "\\raw.KR7";
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    all += "\r\n\n\r\x1a";  // no line-end translation, no end-of-file character
    FileHandle h = fs.createFile(path);
    for (char c : all)
        fs.write(h, &c, 1);
    // Complete on disk before the file is closed: nothing is held back.
    EXPECT_EQ(test::readFile(path), all);
    fs.close(h);
    EXPECT_EQ(test::readFile(path), all);
}

TEST(FileSystemWin32, AppendGoesToTheEndOfWhatIsThere) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    const std::string path = dir.str() + "\\log.txt";
    { std::ofstream(path, std::ios::binary) << "first\r\n"; }
    FileHandle h = fs.openForAppend(path);
    fs.write(h, "second\r\n", 8);
    fs.close(h);
    EXPECT_EQ(test::readFile(path), "first\r\nsecond\r\n");
}

TEST(FileSystemWin32, ErrorTextsComeFromTheWin32Codes) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();

    // A folder where a file must be: ERROR_ACCESS_DENIED.
    const std::string folder = dir.str() + "\\Decoded";
    fs.createDirectory(folder);
    EXPECT_EQ(errorText([&] { fs.openForAppend(folder); }), "File access denied");

    // A file another program holds open without sharing: ERROR_SHARING_VIOLATION.
    const std::string plain = dir.str() + "\\log.txt";
    fs.close(fs.createFile(plain));
    HANDLE held = CreateFileA(plain.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // The number with the system's words for it.
    const auto said = [](int code) { return "I/O error " + std::to_string(code) + " (" + windowsMessage(code) + ")"; };
    EXPECT_FALSE(windowsMessage(ERROR_SHARING_VIOLATION).empty());
    EXPECT_EQ(errorText([&] { fs.openForAppend(plain); }), said(ERROR_SHARING_VIOLATION));
    CloseHandle(held);

    // A plain file where a folder must be: ERROR_PATH_NOT_FOUND.
    EXPECT_EQ(errorText([&] { fs.createFile(plain + "\\inside"); }), said(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(errorText([&] { fs.createDirectory(plain + "\\inside"); }), said(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(errorText([&] { fs.openForAppend(dir.str() + "\\absent"); }), said(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(errorText([&] { fs.write(kNoFile, "x", 1); }), "I/O error 103 (file not open)");
}

// Names in any script, UTF-8 inside, whatever the code page: a folder, a
// file in it, its listing, the current directory and the disk's room.
TEST(FileSystemWin32, NamesOutsideTheCodePage) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    const std::string name =
        "\u7a7a \u0421\u0442\u0430\u043d\u0446\u0438\u044f \u03a3\u03c4\u03b1\u03b8\u03bc\u03cc\u03c2";
    const std::string folder = dir.str() + "\\" + name;
    fs.createDirectory(folder);
    EXPECT_TRUE(fs.directoryExists(folder));
    const FileHandle h = fs.createFile(folder + "\\" + name + ".txt");
    fs.write(h, "x", 1);
    fs.close(h);
    EXPECT_TRUE(fs.fileExists(folder + "\\" + name + ".txt"));
    EXPECT_EQ(fs.fileNames(folder), std::vector<std::string>{name + ".txt"});
    EXPECT_EQ(fs.readFile(folder + "\\" + name + ".txt"), "x");
    EXPECT_TRUE(fs.freeSpace(folder).has_value());
    std::FILE* f = openFile(folder + "\\" + name + ".txt", "rb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    wchar_t before[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, before), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(toUtf16(folder).c_str()));
    const std::string current = fs.currentDirectory();
    SetCurrentDirectoryW(before);
    EXPECT_TRUE(current.ends_with("\\" + name)) << current;
}

TEST(FileSystemWin32, AFullDiskReadsDiskFull) {
    // Wine reaches the host's always-full device through drive Z:.
    if (!test::RunningUnderWine())
        GTEST_SKIP() << "Windows has no always-full device; the \"Disk full\" mapping is verified under Wine";
    IFileSystem& fs = systemFileSystem();
    FileHandle h = fs.openForAppend("Z:\\dev\\full");
    EXPECT_EQ(errorText([&] { fs.write(h, "x", 1); }), "Disk full");
    fs.close(h);
}

TEST(FileSystemWin32, CurrentDirectoryKeepsTheBackslashOnlyAtADriveRoot) {
    test::ScratchDir dir;
    IFileSystem& fs = systemFileSystem();
    char before[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, before), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA((dir.str() + "\\").c_str()));
    const std::string inDir = fs.currentDirectory();
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    const std::string atRoot = fs.currentDirectory();
    SetCurrentDirectoryA(before);
    EXPECT_TRUE(fs.directoryExists(inDir));
    EXPECT_NE(inDir.back(), '\\');
    EXPECT_EQ(atRoot, "C:\\");
}

}  // namespace
}  // namespace kestrel
