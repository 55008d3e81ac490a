// Profile strings on hosts without the Win32 profile API: the same rules,
// carried out on the file's lines.

#include <cstdio>
#include <fstream>
#include <optional>
#include <vector>

#include "serial/ProfileStore.h"

namespace kestrel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

// The lines of the file without their line ends; nullopt when it cannot be read.
std::optional<std::vector<std::string>> readLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    if (in.bad()) return std::nullopt;
    return lines;
}

std::optional<std::string> sectionName(const std::string& line) {
    const std::string t = trim(line);
    if (t.empty() || t[0] != '[') return std::nullopt;
    const std::size_t close = t.rfind(']');
    if (close == std::string::npos || close == 0) return t.substr(1);
    return t.substr(1, close - 1);
}

// Key and raw value of a key line; nullopt for lines without "=".
std::optional<std::pair<std::string, std::string>> keyLine(const std::string& line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return std::make_pair(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
}

struct Location {
    std::optional<std::size_t> section;  // index of the header line
    std::size_t sectionEnd = 0;          // one past the section's last line
    std::optional<std::size_t> key;      // index of the key line
};

// The first section of that name and, inside it, the first line of that key.
Location locate(const std::vector<std::string>& lines, const std::string& section, const std::string& key) {
    Location loc;
    loc.sectionEnd = lines.size();
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        auto name = sectionName(lines[i]);
        if (name && equalNoCase(*name, section)) break;
    }
    if (i == lines.size()) return loc;
    loc.section = i;
    for (std::size_t k = i + 1; k < lines.size(); ++k) {
        if (sectionName(lines[k])) {
            loc.sectionEnd = k;
            break;
        }
        auto kv = keyLine(lines[k]);
        if (!loc.key && kv && equalNoCase(kv->first, key)) loc.key = k;
    }
    return loc;
}

bool writeLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) {
        text += l;
        text += "\r\n";
    }
    // Written beside the file and renamed over it, so that a failed write
    // never leaves a half-written settings file behind.
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.close();
            if (out && std::rename(temp.c_str(), path.c_str()) == 0) return true;
        }
        std::remove(temp.c_str());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return static_cast<bool>(out);
}

class PortableProfileStore final : public ProfileStore {
public:
    std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        auto lines = readLines(path);
        if (!lines) return defaultValue;
        const Location loc = locate(*lines, section, key);
        if (!loc.key) return defaultValue;
        std::string value = keyLine((*lines)[*loc.key])->second;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (value.size() > kProfileValueMax) value.resize(kProfileValueMax);
        return value;
    }

    bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) override {
        std::vector<std::string> lines;
        if (auto existing = readLines(path)) lines = std::move(*existing);
        const Location loc = locate(lines, section, key);
        const std::string keyText = key + "=" + value;
        if (loc.key) {
            lines[*loc.key] = keyText;
        } else if (loc.section) {
            // After the section's last non-blank line, so a blank line that
            // separates it from the next section stays where it is.
            std::size_t at = loc.sectionEnd;
            while (at > *loc.section + 1 && trim(lines[at - 1]).empty()) --at;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), keyText);
        } else {
            lines.push_back("[" + section + "]");
            lines.push_back(keyText);
        }
        return writeLines(path, lines);
    }
};

}  // namespace

std::unique_ptr<ProfileStore> CreateProfileStore() { return std::make_unique<PortableProfileStore>(); }

}  // namespace kestrel
