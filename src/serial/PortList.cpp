#include "serial/PortList.h"

#include <algorithm>

namespace kestrel {

void SortPortNames(std::vector<std::string>& names) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c); };
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [&](char x, char y) { return lower(x) < lower(y); });
    });
}

}  // namespace kestrel
