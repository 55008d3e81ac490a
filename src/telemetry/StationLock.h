#pragma once
// One program per station folder: the first program started on a
// BaseDirectory holds Telemetry/kestrel.lock for as long as it runs (a POSIX
// record lock, or on Windows the file opened with no sharing; see
// IFileSystem::lockFile). A second program on the same folder finds it taken:
// it leaves the first one's files alone (no forwarding, no clean-up of
// temporaries) and archives under names of its own.

#include "telemetry/FileSystem.h"

#include <string>

namespace kestrel {

class StationLock {
public:
    enum class State {
        None,       // not tried
        Held,       // this program holds it
        Elsewhere,  // another program holds it
        Unusable,   // the lock file cannot be made (a read-only folder): nobody can write here
    };

    explicit StationLock(IFileSystem& fs) : fs_(fs) {}
    ~StationLock() { release(); }
    StationLock(const StationLock&) = delete;
    StationLock& operator=(const StationLock&) = delete;

    // Takes the lock below baseDirectory, making the Telemetry folder when
    // missing. Never throws; Why() says what kept an unusable lock from
    // being made.
    State take(const std::string& baseDirectory);
    void release() noexcept;
    State state() const { return state_; }
    const std::string& why() const { return why_; }
    const std::string& path() const { return path_; }

    static constexpr const char* kFileName = "kestrel.lock";

private:
    IFileSystem& fs_;
    FileHandle file_ = kNoFile;
    State state_ = State::None;
    std::string path_;
    std::string why_;
};

}  // namespace kestrel
