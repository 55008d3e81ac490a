// The port list read from the registry's serial-port map.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "serial/CPort.h"
#include "serial/PortList.h"

namespace kestrel {
namespace {

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ';');)
        if (!item.empty())
            items.push_back(item);
    return items;
}

std::ptrdiff_t positionOf(const std::vector<std::string>& names, const std::string& name) {
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : it - names.begin();
}

TEST(PortListWin32, ListsEveryNameOfTheSerialPortMapInCaseInsensitiveOrder) {
    // The stage reads the map with Wine's own reg tool, independently of this code.
    const char* fromRegTool = std::getenv("KESTREL_TEST_SERIALCOMM");
    if (!fromRegTool)
        GTEST_SKIP() << "KESTREL_TEST_SERIALCOMM (the names under HARDWARE\\DEVICEMAP\\SERIALCOMM) is not set; "
                        "scripts/test-stages/30-windows.sh sets it under Wine";
    std::vector<std::string> expected = splitList(fromRegTool);

    const std::vector<std::string> names = EnumComPorts("COM4");  // the current port plays no part here
    std::vector<std::string> sortedNames = names;
    std::sort(sortedNames.begin(), sortedNames.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedNames, expected);

    // The ports the stage maps, in text order: COM10 before COM2.
    const auto com10 = positionOf(names, "COM10"), com2 = positionOf(names, "COM2"), com7 = positionOf(names, "COM7"),
               com8 = positionOf(names, "COM8");
    ASSERT_GE(com10, 0);
    EXPECT_LT(com10, com2);
    EXPECT_LT(com2, com7);
    EXPECT_LT(com7, com8);
    if (const auto com1 = positionOf(names, "COM1"); com1 >= 0) {
        EXPECT_EQ(com1, 0);
    }
}

// The stage runs this last, after deleting the map from Wine's registry.
TEST(PortListWin32, WithoutTheSerialPortMapTheListIsARegistryError) {
    if (!std::getenv("KESTREL_TEST_NO_SERIALCOMM"))
        GTEST_SKIP() << "needs a registry without HARDWARE\\DEVICEMAP\\SERIALCOMM: the Wine stage's last pass "
                        "deletes it and sets KESTREL_TEST_NO_SERIALCOMM";
    try {
        EnumComPorts("");
        ADD_FAILURE() << "listed ports without the serial-port map";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, CError_RegFailed);
        EXPECT_EQ(e.SystemErrorCode, ERROR_FILE_NOT_FOUND);
        EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
    }
}

}  // namespace
}  // namespace kestrel
