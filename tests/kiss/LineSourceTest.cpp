// The settings file's [Line] section: each source read, a wrong one falling
// back to the serial port, the section written only when it is needed.

#include "kiss/LineSource.h"

#include "serial/ProfileStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kestrel;

namespace {

class LineSourceTest : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("kestrel-line-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string ini = (dir / "RS232Settings.ini").string();
    std::unique_ptr<ProfileStore> store = CreateProfileStore();

    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    void write(const std::string& text) { std::ofstream(ini, std::ios::binary) << text; }
    std::string read() {
        std::ostringstream s;
        s << std::ifstream(ini, std::ios::binary).rdbuf();
        return s.str();
    }
};

}  // namespace

TEST_F(LineSourceTest, ReadsEachSourceAndFallsBackToSerial) {
    LineSourceSettings s;
    write("[CPort]\r\nPort=/dev/ttyS0\r\n[Line]\r\nSource=kiss tcp\r\nHost=tnc.local\r\nTcpPort=8010\r\n");
    s.Load(*store, ini);
    EXPECT_EQ(s.kind, LineSourceSettings::KissTcp);
    EXPECT_EQ(s.host, "tnc.local");
    EXPECT_EQ(s.port, 8010);
    EXPECT_TRUE(s.inFile);

    write("[Line]\r\nSource=Serial KISS\r\n");
    s.Load(*store, ini);
    EXPECT_EQ(s.kind, LineSourceSettings::SerialKiss);
    EXPECT_EQ(s.port, LineSourceSettings{}.port);

    write("[Line]\r\nSource=AGW\r\nHost=\r\nTcpPort=70000\r\n");
    s.Load(*store, ini);
    EXPECT_EQ(s.kind, LineSourceSettings::Serial);
    EXPECT_EQ(s.host, LineSourceSettings{}.host);
    EXPECT_EQ(s.port, LineSourceSettings{}.port);
}

TEST_F(LineSourceTest, WritesTheSectionOnlyWhenItWasThereOrIsNeeded) {
    const std::string portOnly = "[CPort]\r\nPort=/dev/ttyS0\r\n";
    write(portOnly);
    LineSourceSettings s;
    s.Load(*store, ini);
    EXPECT_FALSE(s.inFile);
    ASSERT_TRUE(s.Save(*store, ini));
    EXPECT_EQ(read(), portOnly);

    s.kind = LineSourceSettings::KissTcp;
    ASSERT_TRUE(s.Save(*store, ini));
    LineSourceSettings back;
    back.Load(*store, ini);
    EXPECT_EQ(back.kind, LineSourceSettings::KissTcp);
    EXPECT_EQ(read().rfind(portOnly, 0), 0u) << "[CPort] stays as it was";

    back.kind = LineSourceSettings::Serial;  // a section once there is kept up to date
    ASSERT_TRUE(back.Save(*store, ini));
    s.Load(*store, ini);
    EXPECT_TRUE(s.inFile);
    EXPECT_EQ(s.kind, LineSourceSettings::Serial);
}
