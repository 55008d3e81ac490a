// The order of the port list.

#include <gtest/gtest.h>

#include "serial/PortList.h"

namespace kestrel {
namespace {

TEST(PortListOrder, IgnoresCaseSortsTextNotNumbersAndKeepsEqualNamesInOrder) {
    std::vector<std::string> names{"COM2", "com10", "ttyUSB0", "COM1", "COM10", "COM3", "Com1"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "Com1", "com10", "COM10", "COM2", "COM3", "ttyUSB0"}));
}

TEST(PortListOrder, BytesAboveAsciiSortAfterLetters) {
    std::vector<std::string> names{"\xC4port", "zport", "Aport"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Aport", "zport", "\xC4port"}));
}

}  // namespace
}  // namespace kestrel
