#pragma once
// Where a run's results go: the CSV and each Telemetry tree are written under
// temporary names beside their places (ending in ".incomplete") and put in
// place only when the whole run succeeded, so that a failed or interrupted run
// never changes an earlier result. A tree this tool wrote carries a mark
// (kTreeMark); a run given the same --out again replaces it. A station's
// archive, which has no mark, is never replaced.

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::redecode {

// The file in a Telemetry folder that says kestrel-redecode wrote it.
inline constexpr const char* kTreeMark = "redecoded.txt";

// Whether this Telemetry folder is a tree kestrel-redecode wrote.
bool isOwnTree(const std::filesystem::path& telemetry);

class PendingOutputs {
public:
    PendingOutputs();
    ~PendingOutputs();
    PendingOutputs(const PendingOutputs&) = delete;
    PendingOutputs& operator=(const PendingOutputs&) = delete;

    // Where to write the CSV meant for `path` meanwhile.
    std::filesystem::path csv(const std::filesystem::path& path);
    // The folder to hand the archive for the tree meant for folder/Telemetry:
    // it makes its Telemetry folder below it. The same folder for every call
    // with one `folder`.
    std::filesystem::path tree(const std::filesystem::path& folder);

    // Puts everything in place: the CSV over an earlier one, each tree that
    // holds beacons over an earlier tree of this tool's. Returns a line for
    // each output that could not be put in place, with the reason (it is then
    // removed, and what was there before stays).
    std::vector<std::string> commit();
    // Removes everything written; returns one line naming each result and
    // whether an earlier one stays as it was.
    std::string discard();

private:
    struct Tree {
        std::filesystem::path folder, temp;
        bool folderMade;  // the run made the folder: it goes again when empty
    };
    // Marks a tree as this tool's and puts it in place; why not, if it cannot.
    std::string placeTree(const Tree& t);
    void removeTree(const Tree& t);

    std::string tag_;
    std::filesystem::path csvPath_, csvTemp_;
    std::vector<Tree> trees_;
};

}  // namespace kestrel::redecode
