// The profile-string rules on a file's text: splitting it into lines,
// finding a section's key, and setting keys while keeping every other line.

#include "serial/ProfileText.h"

#include "serial/AsciiCase.h"

#include <vector>

namespace kestrel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// The text split into lines without their line ends, and the byte-order mark
// it started with (empty when none).
struct Lines {
    std::string_view bom;
    std::vector<std::string_view> lines;
};

Lines split(std::string_view text) {
    Lines result;
    if (text.starts_with(kUtf8Bom)) {
        result.bom = text.substr(0, kUtf8Bom.size());
        text.remove_prefix(kUtf8Bom.size());
    }
    // CR LF, LF and a lone CR (old Mac editors) all end a line, as they do
    // for the Windows profile functions.
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        result.lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        const bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
        text.remove_prefix(end + (crLf ? 2 : 1));
    }
    return result;
}

std::optional<std::string_view> sectionName(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t[0] != '[')
        return std::nullopt;
    const std::size_t close = t.rfind(']');
    if (close == std::string_view::npos || close == 0)
        return t.substr(1);
    return t.substr(1, close - 1);
}

// Key and raw value of a key line; nullopt for lines without "=".
std::optional<std::pair<std::string_view, std::string_view>> keyLine(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
}

template <typename Line>
std::optional<std::size_t> findSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionName(lines[i]);
        if (name && SameTextAscii(*name, section))
            return i;
    }
    return std::nullopt;
}

// One past the last line of the section whose header is at `header`.
template <typename Line>
std::size_t sectionEnd(const std::vector<Line>& lines, std::size_t header) {
    for (std::size_t k = header + 1; k < lines.size(); ++k)
        if (sectionName(lines[k]))
            return k;
    return lines.size();
}

template <typename Line>
std::optional<std::size_t> findKey(const std::vector<Line>& lines, std::size_t header, std::size_t end,
                                   std::string_view key) {
    for (std::size_t k = header + 1; k < end; ++k) {
        auto kv = keyLine(lines[k]);
        if (kv && SameTextAscii(kv->first, key))
            return k;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ProfileTextLookup(std::string_view text, std::string_view section, std::string_view key) {
    const Lines split_ = split(text);
    const auto& lines = split_.lines;
    const auto header = findSection(lines, section);
    if (!header)
        return std::nullopt;
    const auto at = findKey(lines, *header, sectionEnd(lines, *header), key);
    if (!at)
        return std::nullopt;
    std::string_view value = keyLine(lines[*at])->second;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > kProfileValueMax)
        value = value.substr(0, kProfileValueMax);
    return std::string(value);
}

std::string ProfileTextWithKeys(std::string_view text, const std::string& section, const ProfileKeys& keys) {
    const Lines split_ = split(text);
    std::vector<std::string> lines(split_.lines.begin(), split_.lines.end());
    for (const auto& [key, value] : keys) {
        std::string keyText = key + "=" + value;
        const auto header = findSection(lines, section);
        if (!header) {
            lines.push_back("[" + section + "]");
            lines.push_back(std::move(keyText));
            continue;
        }
        const std::size_t end = sectionEnd(lines, *header);
        if (const auto at = findKey(lines, *header, end, key)) {
            lines[*at] = std::move(keyText);
            continue;
        }
        // After the section's last non-blank line, so a blank line that
        // separates it from the next section stays where it is.
        std::size_t at = end;
        while (at > *header + 1 && trim(lines[at - 1]).empty())
            --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(keyText));
    }
    std::string out(split_.bom);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

}  // namespace kestrel
