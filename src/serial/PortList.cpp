// The setup dialog's order of port names, shared by every platform's list.

#include "serial/PortList.h"

#include "serial/AsciiCase.h"

#include <algorithm>

namespace kestrel {

void SortPortNames(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return LessTextAscii(a, b); });
}

}  // namespace kestrel
