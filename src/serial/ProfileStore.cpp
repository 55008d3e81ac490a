// What every platform's store shares: the rule for which settings files are
// read, and integer reading of profile values.

#include "serial/ProfileStore.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kestrel {

std::string ProfileFileRefusal(const ProfileFileFacts& facts) {
    using Kind = ProfileFileFacts::Kind;
    switch (facts.kind) {
    case Kind::Missing: return {};
    case Kind::Regular:
        if (facts.size <= kProfileFileMax)
            return {};
        return "is larger than " + std::to_string(kProfileFileMax / (1024 * 1024)) + " MB";
    case Kind::NotRegular: return "is not a regular file";
    case Kind::LinkLoop: return "cannot be read: Too many levels of symbolic links";
    case Kind::Denied: return "cannot be read: Permission denied";
    case Kind::Unreadable: return "cannot be read: " + facts.reason;
    }
    return {};
}

int32_t ProfileIntegerFromText(const std::string& text, int32_t defaultValue) {
    std::string digits = text;
    int base = 10;
    bool negative = false;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    } else if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits = digits.substr(1);
    }
    if (digits.empty())
        return defaultValue;
    for (char c : digits) {
        const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
        if (!ok)
            return defaultValue;
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE)
        return defaultValue;
    if (base == 16) {
        // Hexadecimal texts give the 32-bit pattern, so 0xFFFFFFFF is -1.
        if (magnitude > 0xFFFFFFFFull)
            return defaultValue;
        return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    }
    if (negative) {
        if (magnitude > static_cast<unsigned long long>(INT32_MAX) + 1)
            return defaultValue;
        return static_cast<int32_t>(-static_cast<long long>(magnitude));
    }
    if (magnitude > static_cast<unsigned long long>(INT32_MAX))
        return defaultValue;
    return static_cast<int32_t>(magnitude);
}

}  // namespace kestrel
