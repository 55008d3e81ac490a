// The profile-string rules, run against the platform's store.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "support/Files.h"
#include "serial/ProfileStore.h"

namespace kestrel {
namespace {

using test::readFile;
using test::writeFile;

class ProfileStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<ProfileStore> store = CreateProfileStore();
    test::ScratchDir dir;
    std::string ini = (dir / "settings.ini").string();
    std::string read(const std::string& section, const std::string& key, const std::string& def = "<default>") {
        return store->ReadString(ini, section, key, def);
    }
};

TEST_F(ProfileStoreTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(read("CPort", "Port"), "<default>");
    writeFile(ini, "[Other]\r\nPort=COM7\r\n");
    EXPECT_EQ(read("CPort", "Port"), "<default>");
    writeFile(ini, "[CPort]\r\nBaudRate=9600\r\n[Other]\r\nPort=COM7\r\n");
    EXPECT_EQ(read("CPort", "Port"), "<default>");
}

TEST_F(ProfileStoreTest, ValuesFollowTheProfileRules) {
    writeFile(ini,
              "[cport]\n"
              "  PORT =  COM4  \n"
              "Equation=a=b\n"
              "Double=\"quoted value\"\n"
              "Single='x'\n"
              "Uneven=\"half\n"
              "Empty=\n"
              "[Next]\n"
              "Port=COM9\n");
    EXPECT_EQ(read("CPort", "Port"), "COM4");
    EXPECT_EQ(read("CPORT", "port"), "COM4");
    EXPECT_EQ(read("CPort", "Equation"), "a=b");
    EXPECT_EQ(read("CPort", "Double"), "quoted value");
    EXPECT_EQ(read("CPort", "Single"), "x");
    EXPECT_EQ(read("CPort", "Uneven"), "\"half");
    EXPECT_EQ(read("CPort", "Empty"), "");
    EXPECT_EQ(read("Next", "Port"), "COM9");
}

TEST_F(ProfileStoreTest, LongValuesAreCutTo2047Characters) {
    const std::string longValue(3000, 'v');
    writeFile(ini, "[S]\r\nK=" + longValue + "\r\n");
    EXPECT_EQ(read("S", "K"), std::string(2047, 'v'));
}

TEST_F(ProfileStoreTest, WriteCreatesFileAndSectionWithCrLfLines) {
    ASSERT_TRUE(store->WriteSections(ini, {{"CPort", {{"Port", "COM4"}}}, {"Line", {{"Source", "Serial"}}}}));
    EXPECT_EQ(readFile(ini), "[CPort]\r\nPort=COM4\r\n[Line]\r\nSource=Serial\r\n");
    ASSERT_TRUE(store->WriteString(ini, "CPort", "BaudRate", "9600"));
    EXPECT_EQ(readFile(ini), "[CPort]\r\nPort=COM4\r\nBaudRate=9600\r\n[Line]\r\nSource=Serial\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file left";
}

TEST_F(ProfileStoreTest, WriteReplacesInPlaceAndKeepsEverythingElse) {
    writeFile(ini, "[First]\r\nA=1\r\n\r\n[CPort]\r\nPort=COM1\r\nParity=Odd\r\n\r\n[Last]\r\nB=2\r\n");
    ASSERT_TRUE(store->WriteString(ini, "cport", "PORT", "COM4"));
    ASSERT_TRUE(store->WriteString(ini, "CPort", "FlowControl", "None"));
    ASSERT_TRUE(store->WriteString(ini, "New", "Key", "v"));
    EXPECT_EQ(read("CPort", "Port"), "COM4");
    EXPECT_EQ(read("CPort", "Parity"), "Odd");
    EXPECT_EQ(read("CPort", "FlowControl"), "None");
    EXPECT_EQ(read("First", "A"), "1");
    EXPECT_EQ(read("Last", "B"), "2");
    EXPECT_EQ(read("New", "Key"), "v");
    const std::string text = readFile(ini);
    // One line per key, the new key inside its section, the order of the file kept.
    EXPECT_EQ(text.find("COM1"), std::string::npos);
    const auto first = text.find("[First]"), cport = text.find("=COM4"), flow = text.find("FlowControl=None"),
               last = text.find("[Last]"), added = text.find("[New]");
    EXPECT_LT(first, cport);
    EXPECT_LT(cport, flow);
    EXPECT_LT(flow, last);
    EXPECT_LT(last, added);
}

TEST_F(ProfileStoreTest, ARelativePathMeansTheCurrentDirectory) {
    // The Win32 API alone would look for a bare file name in the Windows folder.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(ini).parent_path());
    const bool written = store->WriteString("relative.ini", "CPort", "Port", "COM4");
    const std::string readBack = store->ReadString("relative.ini", "CPort", "Port", "<default>");
    std::filesystem::current_path(before);
    ASSERT_TRUE(written);
    EXPECT_EQ(readBack, "COM4");
    EXPECT_EQ(readFile(dir / "relative.ini"), "[CPort]\r\nPort=COM4\r\n");
}

TEST_F(ProfileStoreTest, WriteIntoAMissingFolderFails) {
    EXPECT_FALSE(store->WriteString((dir / "no-such-folder/settings.ini").string(), "CPort", "Port", "COM4"));
}

TEST_F(ProfileStoreTest, AByteOrderMarkIsNoPartOfTheFirstSection) {
    writeFile(ini, "\xEF\xBB\xBF[CPort]\r\nPort=COM7\r\n");
    EXPECT_EQ(read("CPort", "Port"), "COM7");
    ASSERT_TRUE(store->WriteString(ini, "CPort", "Port", "COM4"));
    const std::string text = readFile(ini);
    EXPECT_EQ(text.find("[CPort]"), text.rfind("[CPort]"));
    EXPECT_EQ(read("CPort", "Port"), "COM4");
}

#ifndef _WIN32
namespace fs = std::filesystem;

// Runs f on a thread without the capabilities that let root read and write
// any file, so that permission bits count as they do for an operator.
template <typename F>
void asOperator(F f) {
    std::thread t([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        if (syscall(SYS_capget, &header, caps) == 0) {
            caps[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
            syscall(SYS_capset, &header, caps);
        }
        f();
    });
    t.join();
}

fs::perms modeOf(const std::string& path) { return fs::status(path).permissions() & fs::perms::mask; }

TEST_F(ProfileStoreTest, AFileThatCannotBeReadOrIsReadOnlyIsNeverReplaced) {
    const std::string before = "[Station]\r\nCall=XX0XX\r\n[CPort]\r\nPort=COM1\r\n";
    for (const auto mode : {fs::perms::owner_write, fs::perms::owner_read | fs::perms::group_read}) {
        writeFile(ini, before);
        fs::permissions(ini, mode);
        bool written = true;
        asOperator([&] { written = store->WriteStrings(ini, "CPort", {{"Port", "COM4"}, {"Parity", "None"}}); });
        EXPECT_FALSE(written);
        EXPECT_EQ(modeOf(ini), mode);
        EXPECT_EQ(readFile(ini), before);
    }
}

TEST_F(ProfileStoreTest, WriteGoesThroughALinkAndKeepsTheFileMode) {
    const std::string target = (dir / "real.ini").string();
    writeFile(target, "[CPort]\r\nPort=COM1\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.ini", ini);
    ASSERT_TRUE(store->WriteString(ini, "CPort", "Port", "COM4"));
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(readFile(target), "[CPort]\r\nPort=COM4\r\n");
    EXPECT_EQ(modeOf(target), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProfileStoreTest, AStrayNameBesideTheFileIsNeverWrittenThrough) {
    const std::string victim = (dir / "victim").string();
    writeFile(victim, "keep");
    writeFile(ini, "[CPort]\r\nPort=COM1\r\n");
    fs::create_symlink(victim, ini + ".tmp");
    ASSERT_TRUE(store->WriteString(ini, "CPort", "Port", "COM4"));
    EXPECT_EQ(readFile(victim), "keep");
    EXPECT_EQ(read("CPort", "Port"), "COM4");
}
#else
// A file held open without sharing is left out: Wine lets the store open it
// all the same.
TEST_F(ProfileStoreTest, AReadOnlyFileIsNeverReplaced) {
    const std::string before = "[Station]\r\nCall=XX0XX\r\n[CPort]\r\nPort=COM1\r\n";
    writeFile(ini, before);
    ASSERT_TRUE(SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(store->WriteStrings(ini, "CPort", {{"Port", "COM4"}}));
    SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(readFile(ini), before);
}
#endif

TEST(ProfileInteger, DecimalHexAndInvalidTexts) {
    EXPECT_EQ(ProfileIntegerFromText("115200", 7), 115200);
    EXPECT_EQ(ProfileIntegerFromText("-42", 7), -42);
    EXPECT_EQ(ProfileIntegerFromText("0x1C200", 7), 115200);
    EXPECT_EQ(ProfileIntegerFromText("0XfF", 7), 255);
    EXPECT_EQ(ProfileIntegerFromText("0xFFFFFFFF", 7), -1);
    EXPECT_EQ(ProfileIntegerFromText("0x", 7), 7);
    EXPECT_EQ(ProfileIntegerFromText("", 7), 7);
    EXPECT_EQ(ProfileIntegerFromText("12a", 7), 7);
    EXPECT_EQ(ProfileIntegerFromText("0x12G", 7), 7);
    EXPECT_EQ(ProfileIntegerFromText("99999999999", 7), 7);
    EXPECT_EQ(ProfileIntegerFromText("2147483647", 7), 2147483647);
    EXPECT_EQ(ProfileIntegerFromText("-2147483648", 7), INT32_MIN);
}

}  // namespace
}  // namespace kestrel
