// Taking and releasing the station folder's lock file.

#include "telemetry/StationLock.h"

#include <exception>

namespace kestrel {

StationLock::State StationLock::take(const std::string& baseDirectory) {
    release();
    const std::string folder = JoinPath(baseDirectory, "Telemetry");
    path_ = JoinPath(folder, kFileName);
    why_.clear();
    try {
        if (!fs_.directoryExists(folder))
            fs_.createDirectory(folder);
        file_ = fs_.lockFile(path_);
        state_ = file_ == kNoFile ? State::Elsewhere : State::Held;
    } catch (const std::exception& e) {
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
}

}  // namespace kestrel
