// Entering the user's station folder at start (--station), the platform
// parts in StationFolderPosix.cpp and StationFolderWin32.cpp.

#include "station/StationFolder.h"

#include <utility>

namespace kestrel {
namespace {

// The working directory is the process's; so is what went wrong entering it.
std::string& StartFolderProblem() {
    static std::string problem;
    return problem;
}

bool& StationFolderAsked() {
    static bool asked = false;
    return asked;
}

}  // namespace

void EnterPersonalStationFolder() {
    StationFolderAsked() = true;
    StartFolderProblem() = EnterStationFolder(PersonalStationFolder());
}

bool StartedForStationFolder() { return StationFolderAsked(); }

std::string TakeStartFolderProblem() { return std::exchange(StartFolderProblem(), {}); }

}  // namespace kestrel
