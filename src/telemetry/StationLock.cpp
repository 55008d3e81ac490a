// Taking and releasing a slot of the station folder.

#include "telemetry/StationLock.h"

#include <exception>

namespace kestrel {

std::string StationLock::LockPath(const std::string& baseDirectory, int slot) {
    return JoinPath(baseDirectory,
                    slot == 1 ? std::string("kestrel.lock") : "kestrel-" + std::to_string(slot) + ".lock");
}

FileHandle StationLock::TryLock(IFileSystem& fs, const std::string& baseDirectory, int slot) {
    return fs.lockFile(LockPath(baseDirectory, slot));
}

// Whether a program holds the lock file at path: tried, and let go at once.
bool StationLock::otherHolds(const std::string& path) {
    const FileHandle probe = fs_.lockFile(path);
    if (probe == kNoFile)
        return true;
    fs_.close(probe);
    return false;
}

StationLock::State StationLock::take(const std::string& baseDirectory) {
    release();
    why_.clear();
    try {
        const std::string folder = JoinPath(baseDirectory, "Telemetry");
        if (!fs_.directoryExists(folder))
            fs_.createDirectory(folder);
        // An earlier version's lock: held, it is that program's slot 1.
        const std::string legacy = JoinPath(folder, "kestrel.lock");
        bool legacyHeld = false;
        if (fs_.fileExists(legacy)) {
            const FileHandle h = fs_.lockFile(legacy);
            legacyHeld = h == kNoFile;
            if (!legacyHeld) {
                // Removed while held where the system allows it (POSIX).
                const bool removed = fs_.removeFile(legacy);
                fs_.close(h);
                if (!removed)
                    fs_.removeFile(legacy);
            }
        }
        shared_ = legacyHeld;
        for (int slot = legacyHeld ? 2 : 1; slot <= kMostSlots && file_ == kNoFile; ++slot) {
            file_ = TryLock(fs_, baseDirectory, slot);
            if (file_ == kNoFile) {
                shared_ = true;
                continue;
            }
            slot_ = slot;
            path_ = LockPath(baseDirectory, slot);
        }
        if (file_ == kNoFile) {
            why_ = std::to_string(kMostSlots) + " programs use it already";
            state_ = State::Unusable;
            return state_;
        }
        // Programs in later slots (the files stay when their programs end).
        for (int slot = slot_ + 1; slot <= kMostSlots && !shared_; ++slot) {
            const std::string path = LockPath(baseDirectory, slot);
            if (!fs_.fileExists(path))
                break;
            shared_ = otherHolds(path);
        }
        state_ = State::Held;
    } catch (const std::exception& e) {
        release();
        why_ = e.what();
        state_ = State::Unusable;
    }
    return state_;
}

void StationLock::release() noexcept {
    if (file_ != kNoFile) {
        try {
            fs_.close(file_);
        } catch (...) {
        }
        file_ = kNoFile;
    }
    state_ = State::None;
    slot_ = 0;
    shared_ = false;
}

}  // namespace kestrel
