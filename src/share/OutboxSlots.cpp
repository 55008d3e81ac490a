// The slots' outboxes below Telemetry/share/, and taking over those that
// programs which ended left behind (see OutboxSlots.h).

#include "share/OutboxSlots.h"

#include "telemetry/StationLock.h"

#include <algorithm>
#include <exception>

namespace kestrel {

std::string ShareFolder(const std::string& baseDirectory) {
    return JoinPath(JoinPath(baseDirectory, "Telemetry"), "share");
}

std::string OutboxName(int slot) { return slot <= 1 ? "outbox.txt" : "outbox-" + std::to_string(slot) + ".txt"; }

std::string RejectsName(int slot) { return slot <= 1 ? "rejects.txt" : "rejects-" + std::to_string(slot) + ".txt"; }

int OutboxSlot(const std::string& name) {
    if (name == "outbox.txt")
        return 1;
    if (!name.starts_with("outbox-") || !name.ends_with(".txt"))
        return 0;
    const std::string digits = name.substr(7, name.size() - 11);
    if (digits.empty() || digits.size() > 2 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const int slot = std::stoi(digits);
    return slot >= 2 && slot <= StationLock::kMostSlots ? slot : 0;
}

OutboxAdoption::OutboxAdoption(IFileSystem& fs, std::string baseDirectory, int ownSlot)
    : fs_(fs), base_(std::move(baseDirectory)), own_(ownSlot) {}

OutboxAdoption::~OutboxAdoption() {
    for (const auto& [path, lock] : held_) {
        try {
            fs_.close(lock);
        } catch (...) {
        }
    }
}

std::vector<std::string> OutboxAdoption::adopt() {
    std::vector<std::string> found;
    const std::string folder = ShareFolder(base_);
    for (const std::string& name : fs_.fileNames(folder)) {
        const int slot = OutboxSlot(name);
        const std::string path = JoinPath(folder, name);
        if (slot == 0 || slot == own_ || held_.count(path))
            continue;
        try {
            const FileHandle lock = StationLock::TryLock(fs_, base_, slot);
            if (lock == kNoFile)
                continue;  // its program runs, or another one took it over
            held_[path] = lock;
            found.push_back(path);
        } catch (const std::exception&) {
            // A lock that cannot be made is tried again at the next look.
        }
    }
    return found;
}

void OutboxAdoption::release(const std::string& path) {
    const auto it = held_.find(path);
    if (it == held_.end())
        return;
    try {
        fs_.close(it->second);
    } catch (...) {
    }
    held_.erase(it);
}

}  // namespace kestrel
