// The outbox's file: reading it back, appending records and marks, and what a
// failed write, a damaged line or a kill leaves behind (see Outbox.h).
//
// Sections:
//   Reading      a line's fields checked; ReadOutboxText
//   The file     closing, damaged lines set aside, the folder, Open (read
//                back and locked), rewriting and appending
//   Records      frames held in memory written, Add, Settle, Compact

#include "share/Outbox.h"

#include "telemetry/InOutError.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <map>
#include <set>

namespace kestrel {

namespace {

// Fifteen digits: far beyond any run, and no wrap to 0 anywhere near.
constexpr std::uint64_t kHighestNumber = 999999999999999;

bool ParseNumber(std::string_view text, std::uint64_t& n) {
    if (text.empty() || text.size() > 15 || text.front() < '0' || text.front() > '9')
        return false;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && p == text.data() + text.size() && n > 0 && n <= kHighestNumber;
}

bool FormText(std::string_view form) {
    return !form.empty() && std::all_of(form.begin(), form.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '.' ||
               c == '_' || c == '~' || c == '%' || c == '&' || c == '=';
    });
}

bool UrlText(std::string_view url) {
    return !url.empty() &&
           std::all_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) > ' ' && c != 127; });
}

std::string RecordLine(const OutboxRecord& r) { return "Q " + std::to_string(r.number) + " - " + r.form + "\n"; }

std::string Why(const char* what, const std::string& path, const std::exception& e) {
    return std::string(what) + " " + path + ": " + e.what();
}

}  // namespace

// ---- Reading ------------------------------------------------------------------------

OutboxContents ReadOutboxText(std::string_view text) {
    OutboxContents c;
    std::set<std::uint64_t> queued;
    // By number, which is file order in every file this program writes; a
    // mark finds its record without a search.
    std::map<std::uint64_t, OutboxRecord> waiting;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            break;  // a torn last line is not read
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        c.wholeLines = pos;
        const std::string_view whole = line;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        auto damaged = [&] { c.damaged.emplace_back(whole); };
        if (line.size() > Outbox::kLongestLine || line.size() < 3 || line[1] != ' ') {
            damaged();
            continue;
        }
        const std::string_view rest = line.substr(2);
        std::uint64_t n = 0;
        if (line[0] == 'Q') {
            const std::size_t b1 = rest.find(' ');
            const std::size_t b2 = b1 == std::string_view::npos ? b1 : rest.find(' ', b1 + 1);
            if (b2 == std::string_view::npos || !ParseNumber(rest.substr(0, b1), n) ||
                !UrlText(rest.substr(b1 + 1, b2 - b1 - 1)) || !FormText(rest.substr(b2 + 1)) ||
                !queued.insert(n).second) {
                damaged();
                continue;
            }
            // The Url an earlier version wrote is not used.
            waiting.emplace(n, OutboxRecord{0, n, std::string(rest.substr(b2 + 1))});
            c.highest = std::max(c.highest, n);
        } else if ((line[0] == 'S' || line[0] == 'R') && ParseNumber(rest, n)) {
            // A mark for a record never queued here takes nothing away.
            waiting.erase(n);
        } else {
            damaged();
        }
    }
    c.waiting.reserve(waiting.size());
    for (auto& [n, r] : waiting)
        c.waiting.push_back(std::move(r));
    return c;
}

Outbox::Outbox(IFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}

Outbox::~Outbox() { Close(); }

// ---- The file -----------------------------------------------------------------------

void Outbox::Close() noexcept {
    if (file_ == kNoFile)
        return;
    try {
        WriteHeld();
    } catch (...) {
    }
    try {
        fs_.close(file_);
    } catch (...) {
    }
    file_ = kNoFile;
    queue_.clear();
    marks_.clear();
    held_ = 0;
    size_ = 0;
    brokenLine_ = false;
}

std::string Outbox::DamagedPath() const {
    // outbox.txt: outbox-damaged.txt; outbox-2.txt: outbox-2-damaged.txt.
    const std::size_t cut = path_.find_last_of(kPathSeparator);
    const std::size_t dot = path_.rfind('.');
    const std::size_t stem = dot == std::string::npos || (cut != std::string::npos && dot < cut) ? path_.size() : dot;
    return path_.substr(0, stem) + "-damaged.txt";
}

// Copies the damaged lines to the damaged-lines file, each one only as often
// as it is not there already: an outbox that could not be emptied since
// holds them still, and each start would copy them again. The number copied.
std::size_t Outbox::setAside() {
    const std::string aside = DamagedPath();
    std::string present = fs_.fileExists(aside) ? fs_.readFile(aside) : std::string();
    std::map<std::string_view, std::size_t> there;
    for (std::size_t pos = 0, eol; (eol = present.find('\n', pos)) != std::string::npos; pos = eol + 1)
        ++there[std::string_view(present).substr(pos, eol - pos)];
    std::string lines;
    std::size_t count = 0;
    for (const std::string& l : damagedLines_) {
        auto it = there.find(l);
        if (it != there.end() && it->second > 0) {
            --it->second;
            continue;
        }
        lines += l + "\n";
        ++count;
    }
    damagedUnsaved_ = false;
    if (lines.empty())
        return 0;
    damagedUnsaved_ = true;
    const FileHandle file = fs_.openOrCreate(aside);
    try {
        fs_.write(file, lines.data(), lines.size());
        fs_.sync(file);
    } catch (const EInOutError& e) {
        // A part would be copied again whole: cut it off where that works.
        try {
            if (e.BytesWritten)
                fs_.truncate(file, present.size());
        } catch (...) {
        }
        fs_.close(file);
        throw;
    } catch (...) {
        fs_.close(file);
        throw;
    }
    fs_.close(file);
    damagedUnsaved_ = false;
    return count;
}

void Outbox::ensureFolder() {
    std::vector<std::string> missing;
    std::string current = path_;
    for (;;) {
        const std::size_t cut = current.find_last_of(kPathSeparator);
        if (cut == std::string::npos || cut == 0)
            break;
        current.erase(cut);
        if (current.back() == ':' || fs_.directoryExists(current))
            break;
        missing.push_back(current);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        fs_.createDirectory(*it);
}

bool Outbox::Open() {
    if (file_ != kNoFile)
        return true;
    try {
        ensureFolder();
        // A rewrite that a kill interrupted: the new file is whole once the
        // old one is gone, and unfinished while the old one is there.
        const std::string fresh = path_ + ".new";
        if (fs_.fileExists(fresh)) {
            if (fs_.fileExists(path_))
                fs_.removeFile(fresh);
            else
                fs_.renameNoReplace(fresh, path_);
        }
        const std::string text = fs_.fileExists(path_) ? fs_.readFile(path_) : std::string();
        OutboxContents c = ReadOutboxText(text);
        // Renumbered from 1 and rewritten when the numbers near the top of
        // their range (a hand-edited file): they would soon run out.
        const bool renumber = !c.waiting.empty() && c.highest > kHighestNumber / 2;
        if (renumber) {
            std::uint64_t n = 0;
            for (OutboxRecord& r : c.waiting)
                r.number = ++n;
            c.highest = n;
        }
        damagedLines_ = std::move(c.damaged);
        std::size_t copied = 0;
        try {
            copied = setAside();
        } catch (const std::exception& e) {
            if (renumber)
                throw;  // the rewrite would drop them
            // They stay in the outbox meanwhile; the frames go out all the same.
            problem_ = Why("Cannot copy damaged lines of the outbox to", DamagedPath(), e);
        }
        if (renumber) {
            rewrite(c.waiting);
            damagedLines_.clear();
        }
        file_ = fs_.openOrCreate(path_);
        if (c.waiting.empty() && !damagedUnsaved_) {
            if (!text.empty())
                fs_.truncate(file_, 0);  // nothing waits: start afresh
            size_ = 0;
            damagedLines_.clear();
        } else if (!renumber) {
            if (c.wholeLines < text.size())
                fs_.truncate(file_, c.wholeLines);  // the torn line a kill left
            size_ = c.wholeLines;
        } else {
            size_ = 0;
            for (const OutboxRecord& r : c.waiting)
                size_ += RecordLine(r).size();
        }
        damaged_ += copied;
        next_ = std::max(next_, c.highest + 1);
        for (auto it = c.waiting.rbegin(); it != c.waiting.rend(); ++it) {
            it->id = nextId_++;
            queue_.push_front(std::move(*it));
        }
        if (!damagedUnsaved_)
            problem_.clear();
        return true;
    } catch (const std::exception& e) {
        if (file_ != kNoFile) {
            try {
                fs_.close(file_);
            } catch (...) {
            }
            file_ = kNoFile;
        }
        problem_ = Why("Cannot open the outbox", path_, e);
        return false;
    }
}

// The waiting records alone, into a new file that replaces the old one once
// it is whole on the disk.
void Outbox::rewrite(const std::vector<OutboxRecord>& waiting) {
    const std::string fresh = path_ + ".new";
    fs_.removeFile(fresh);
    std::string text;
    for (const OutboxRecord& r : waiting)
        text += RecordLine(r);
    const FileHandle file = fs_.createFile(fresh);
    try {
        fs_.write(file, text.data(), text.size());
        fs_.sync(file);
    } catch (...) {
        fs_.close(file);
        fs_.removeFile(fresh);
        throw;
    }
    fs_.close(file);
    fs_.removeFile(path_);
    fs_.renameNoReplace(fresh, path_);
}

bool Outbox::append(const std::string& line) {
    const std::string text = brokenLine_ ? "\n" + line : line;
    try {
        fs_.write(file_, text.data(), text.size());
    } catch (const EInOutError& e) {
        problem_ = Why("Cannot write the outbox", path_, e);
        // Cut back to the last whole line; failing that, the next record
        // starts on a line of its own.
        try {
            fs_.truncate(file_, size_);
            brokenLine_ = false;
        } catch (const std::exception&) {
            size_ += e.BytesWritten;
            brokenLine_ = brokenLine_ || e.BytesWritten > 0;
        }
        return false;
    }
    size_ += text.size();
    brokenLine_ = false;
    problem_.clear();
    return true;
}

// ---- Records ------------------------------------------------------------------------

bool Outbox::WriteHeld() {
    if (file_ == kNoFile && !Open())
        return false;
    if (!held_ && marks_.empty())
        return true;
    while (!marks_.empty()) {
        if (!append(marks_.front()))
            return false;
        marks_.erase(marks_.begin());
    }
    for (OutboxRecord& r : queue_) {
        if (!held_)
            break;
        if (r.number)
            continue;
        r.number = next_;
        if (!append(RecordLine(r))) {
            r.number = 0;
            return false;
        }
        ++next_;
        --held_;
    }
    return true;
}

void Outbox::Add(const std::string& form) {
    queue_.push_back(OutboxRecord{nextId_++, 0, form});
    ++held_;
    WriteHeld();
}

void Outbox::Settle(std::uint64_t id, bool refused) {
    const auto it = std::find_if(queue_.begin(), queue_.end(), [id](const OutboxRecord& r) { return r.id == id; });
    if (it == queue_.end())
        return;
    if (it->number) {
        const std::string mark = std::string(refused ? "R " : "S ") + std::to_string(it->number) + "\n";
        if (!marks_.empty() || file_ == kNoFile || !append(mark))
            marks_.push_back(mark);
    } else {
        --held_;  // taken before it was ever written: nothing to write now
    }
    queue_.erase(it);
}

void Outbox::Compact(std::uint64_t size) {
    if (!queue_.empty() || file_ == kNoFile || (size_ < size && damagedLines_.empty()))
        return;
    try {
        if (damagedUnsaved_)
            setAside();
        fs_.truncate(file_, 0);
        size_ = 0;
        marks_.clear();
        damagedLines_.clear();
        brokenLine_ = false;
    } catch (const std::exception& e) {
        problem_ = Why("Cannot empty the outbox", path_, e);
    }
}

}  // namespace kestrel
