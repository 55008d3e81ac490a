#include "share/Outbox.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string_view>

namespace kestrel {

namespace {

std::string Why(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool ParseNumber(std::string_view text, std::uint64_t& n) {
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && p == text.data() + text.size() && n > 0;
}

}  // namespace

Outbox::~Outbox() {
    if (file_)
        std::fclose(file_);
}

std::vector<OutboxRecord> Outbox::Open() {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    std::string text;
    {
        std::ifstream in(path_, std::ios::binary);
        if (in)
            text.assign(std::istreambuf_iterator<char>(in), {});
    }
    // Queued records by number, in file order; marks remove them.
    std::map<std::uint64_t, OutboxRecord> unsent;
    std::uint64_t highest = 0;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            break;  // a torn last line is ignored
        std::string_view line(text.data() + pos, eol - pos);
        pos = eol + 1;
        if (line.size() < 3 || line[1] != ' ')
            continue;
        const std::string_view rest = line.substr(2);
        std::uint64_t n = 0;
        if (line[0] == 'Q') {
            const std::size_t b1 = rest.find(' ');
            const std::size_t b2 = b1 == std::string_view::npos ? b1 : rest.find(' ', b1 + 1);
            if (b2 == std::string_view::npos || !ParseNumber(rest.substr(0, b1), n))
                continue;
            unsent[n] =
                OutboxRecord{n, std::string(rest.substr(b1 + 1, b2 - b1 - 1)), std::string(rest.substr(b2 + 1))};
            highest = std::max(highest, n);
        } else if ((line[0] == 'S' || line[0] == 'R') && ParseNumber(rest, n)) {
            unsent.erase(n);
        }
    }
    const bool torn = pos < text.size();
    const char* mode = unsent.empty() ? "wb" : "ab";  // nothing waits: start afresh
    file_ = std::fopen(path_.c_str(), mode);
    if (!file_)
        throw std::runtime_error(Why("Cannot open the outbox", path_));
    size_ = unsent.empty() ? 0 : text.size();
    next_ = highest + 1;
    if (torn && !unsent.empty())
        write("\n");  // the next record starts on a line of its own
    std::vector<OutboxRecord> records;
    records.reserve(unsent.size());
    for (auto& [n, r] : unsent)
        records.push_back(std::move(r));
    return records;
}

void Outbox::write(const std::string& line) {
    if (!file_)
        throw std::runtime_error("The outbox " + path_ + " is not open");
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
        const std::string why = Why("Cannot write the outbox", path_);
        std::clearerr(file_);
        throw std::runtime_error(why);
    }
    size_ += line.size();
}

void Outbox::Append(OutboxRecord& record, const std::string& url, const std::string& form) {
    record = OutboxRecord{next_++, url, form};
    write("Q " + std::to_string(record.number) + " " + url + " " + form + "\n");
}

void Outbox::mark(char kind, std::uint64_t number) {
    write(std::string(1, kind) + " " + std::to_string(number) + "\n");
}

void Outbox::Sync() {
    if (file_)
        SyncToDisk(file_);
}

void Outbox::Clear() {
    if (file_)
        std::fclose(file_);
    file_ = std::fopen(path_.c_str(), "wb");
    if (!file_)
        throw std::runtime_error(Why("Cannot empty the outbox", path_));
    size_ = 0;
}

}  // namespace kestrel
