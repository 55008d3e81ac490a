// The run's results under temporary names, put in place at its end or removed.

#include "Outputs.h"

#include "station/CommandLine.h"

#include <cstdio>
#include <random>

namespace fs = std::filesystem;

namespace kestrel::redecode {
namespace {

// Whether anything has that name; a name that cannot be looked at counts as
// taken, so that nothing is ever put over it.
bool taken(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    return ec ? ec != std::errc::no_such_file_or_directory : fs::exists(st);
}

}  // namespace

bool isOwnTree(const fs::path& telemetry) {
    std::error_code ec;
    return fs::is_regular_file(telemetry / kTreeMark, ec);
}

PendingOutputs::PendingOutputs() {
    // Two runs at once on the same output each write names of their own.
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(random()));
    tag_ = text;
}

PendingOutputs::~PendingOutputs() {
    if (!csvTemp_.empty() || !trees_.empty())
        discard();
}

fs::path PendingOutputs::csv(const fs::path& path) {
    csvPath_ = path;
    csvTemp_ = path;
    csvTemp_ += "." + tag_ + ".incomplete";
    return csvTemp_;
}

fs::path PendingOutputs::tree(const fs::path& folder) {
    for (const Tree& t : trees_)
        if (t.folder == folder)
            return t.temp;
    trees_.push_back({folder, folder / ("Telemetry." + tag_ + ".incomplete"), !taken(folder)});
    return trees_.back().temp;
}

void PendingOutputs::removeTree(const Tree& t) {
    std::error_code ec;
    fs::remove_all(t.temp, ec);
    if (t.folderMade)
        fs::remove(t.folder, ec);  // only when empty
}

std::string PendingOutputs::placeTree(const Tree& t) {
    const fs::path made = t.temp / "Telemetry";
    const fs::path place = t.folder / "Telemetry";
    std::FILE* mark = std::fopen((made / kTreeMark).string().c_str(), "wb");
    const std::string version = VersionText("kestrel-redecode");
    const std::string text = "Written by " + version.substr(0, version.find('\n')) +
                             ": beacons decoded again, not a station's archive. kestrel-redecode --out " +
                             t.folder.string() + " replaces this Telemetry folder.\n";
    if (!mark)
        return "cannot mark it as kestrel-redecode's";
    const bool written = std::fputs(text.c_str(), mark) >= 0;
    if (std::fclose(mark) != 0 || !written)
        return "cannot mark it as kestrel-redecode's";
    // An earlier tree of this tool's goes aside first: a folder is never
    // renamed over another.
    std::error_code ec;
    const bool hadEarlier = taken(place);
    if (hadEarlier && !isOwnTree(place))
        return "a Telemetry folder that kestrel-redecode did not write is there now";
    const fs::path earlier = t.folder / ("Telemetry." + tag_ + ".earlier");
    if (hadEarlier) {
        fs::rename(place, earlier, ec);
        if (ec)
            return ec.message();
    }
    fs::rename(made, place, ec);
    if (ec) {
        const std::string why = ec.message();
        if (hadEarlier)
            fs::rename(earlier, place, ec);
        return why;
    }
    fs::remove_all(earlier, ec);
    return {};
}

std::vector<std::string> PendingOutputs::commit() {
    std::vector<std::string> failed;
    std::error_code ec;
    if (!csvTemp_.empty()) {
        fs::rename(csvTemp_, csvPath_, ec);
        if (ec) {
            failed.push_back(csvPath_.string() + ": not put in place: " + ec.message());
            fs::remove(csvTemp_, ec);
        }
        csvTemp_.clear();
    }
    for (const Tree& t : trees_) {
        // A run without beacons writes no tree, and leaves an earlier one.
        if (taken(t.temp / "Telemetry"))
            if (const std::string why = placeTree(t); !why.empty())
                failed.push_back((t.folder / "Telemetry").string() + ": not put in place: " + why);
        removeTree(t);
    }
    trees_.clear();
    return failed;
}

std::string PendingOutputs::discard() {
    std::string said;
    const auto say = [&](const fs::path& place) {
        said += (said.empty() ? "" : ", ") + place.string() + (taken(place) ? " left as it was" : " not written");
    };
    std::error_code ec;
    if (!csvTemp_.empty()) {
        fs::remove(csvTemp_, ec);
        say(csvPath_);
        csvTemp_.clear();
    }
    for (const Tree& t : trees_) {
        removeTree(t);
        say(t.folder / "Telemetry");
    }
    trees_.clear();
    return said;
}

}  // namespace kestrel::redecode
