#include "serial/PortList.h"

#include <algorithm>

namespace kestrel {
namespace {

char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(foldCase(x)) < static_cast<unsigned char>(foldCase(y));
    });
}

}  // namespace

void SortPortNames(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), lessIgnoringCase);
}

}  // namespace kestrel
