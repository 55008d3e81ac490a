// What both platforms' HTTP transports share: reading the answer's headers.
#include "share/HttpTransport.h"

#include <cctype>

namespace kestrel {

std::string HttpResult::header(std::string_view name) const {
    const auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    std::string_view rest = headers;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !same(line.substr(0, colon), name))
            continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.remove_suffix(1);
        return std::string(value);
    }
    return {};
}

}  // namespace kestrel
