#pragma once
// The station folder a menu entry or a shortcut starts the program in
// (--station): a folder of the user's own that the operator finds at once and
// sends on whole: ~/KESTREL on Linux, Documents\KESTREL on Windows. Started
// without the option the program works in the current directory, as ever.
// Platform parts: StationFolderPosix.cpp, StationFolderWin32.cpp.

#include <string>

namespace kestrel {

// The folder's name in the user's home (Linux) or Documents (Windows) folder.
inline constexpr const char* kStationFolderName = "KESTREL";

// The user's station folder; "" when the system names no home (Documents)
// folder.
std::string PersonalStationFolder();

// Makes folder when it is missing (its parent must exist) and makes it the
// process's current directory. "" when that worked; else why not, with the
// folder, the system's reason and the folder the program stays in.
std::string EnterStationFolder(const std::string& folder);

// --station: enters the user's station folder for the rest of the process,
// before any window exists. What went wrong waits for the engine's start-up,
// which reports it (StartFolderProblem).
void EnterPersonalStationFolder();
// Whether the program was started for the user's station folder (--station,
// as the menu and the shortcut start it), whether or not it could be entered.
bool StartedForStationFolder();
// What the last EnterPersonalStationFolder could not do; "" when it did or
// was not asked to. Taken: a second call returns "".
std::string TakeStartFolderProblem();

// Why no file can be made in folder, in the system's words ("Permission
// denied", "Read-only file system"); "" when one can.
std::string FolderWriteProblem(const std::string& folder);

}  // namespace kestrel
