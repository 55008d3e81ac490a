#pragma once
// The programs on one station folder (a BaseDirectory). Each running program
// holds a lock of its own, its slot, for as long as it runs: the first
// kestrel.lock in the station folder, the next ones kestrel-2.lock,
// kestrel-3.lock, ... (a POSIX record lock, or on Windows the file opened
// with no sharing; see IFileSystem::lockFile). They lie beside the settings
// file, not in the Telemetry folder an operator sends: a Windows program's
// lock file cannot be read while it runs. A slot's lock also guards what is
// the slot's own below Telemetry (its outbox): whoever holds the lock, a
// program running in that slot or one that took over what a dead one left,
// is the only one to touch it.
//
// Earlier versions held Telemetry/kestrel.lock: one of them still running
// holds slot 1; left behind, that file is removed.

#include "telemetry/FileSystem.h"

#include <string>

namespace kestrel {

class StationLock {
public:
    enum class State {
        None,      // not tried
        Held,      // this program holds slot()
        Unusable,  // the lock file cannot be made (a read-only folder): nobody can write here
    };

    explicit StationLock(IFileSystem& fs) : fs_(fs) {}
    ~StationLock() { release(); }
    StationLock(const StationLock&) = delete;
    StationLock& operator=(const StationLock&) = delete;

    // Takes the first free slot of the station folder, making the Telemetry
    // folder when missing. Never throws; why() says what kept an unusable
    // lock from being made.
    State take(const std::string& baseDirectory);
    void release() noexcept;
    State state() const { return state_; }
    // 1 for the first program on the folder; 0 while none is held.
    int slot() const { return slot_; }
    // Other programs held slots of the folder when this one took its own.
    bool shared() const { return shared_; }
    const std::string& why() const { return why_; }
    const std::string& path() const { return path_; }

    static constexpr int kMostSlots = 64;
    static std::string LockPath(const std::string& baseDirectory, int slot);
    // Slot's lock for this process until the handle is closed; kNoFile when
    // another program (or this one) holds it. Throws EInOutError when the
    // file cannot be made.
    static FileHandle TryLock(IFileSystem& fs, const std::string& baseDirectory, int slot);

private:
    bool otherHolds(const std::string& path);

    IFileSystem& fs_;
    FileHandle file_ = kNoFile;
    State state_ = State::None;
    int slot_ = 0;
    bool shared_ = false;
    std::string path_;
    std::string why_;
};

}  // namespace kestrel
