#pragma once
// Each program on a station folder forwards through an outbox of its own,
// that of its slot (telemetry/StationLock.h), below Telemetry/share/: slot 1
// has outbox.txt and rejects.txt, slot N outbox-N.txt and rejects-N.txt.
// Whoever holds a slot's lock is the only one to touch its outbox: the
// program running in it, or a forwarder that took over what a program which
// ended (killed, or stopped with frames still waiting) left there.

#include "share/Forwarder.h"
#include "telemetry/FileSystem.h"

#include <map>
#include <string>
#include <vector>

namespace kestrel {

std::string ShareFolder(const std::string& baseDirectory);
std::string OutboxName(int slot);
std::string RejectsName(int slot);
// The slot whose outbox a file name in the share folder is; 0 for any other.
int OutboxSlot(const std::string& name);

// The outboxes of a station folder's slots whose locks nobody holds, taken
// over for a forwarder running in slot ownSlot.
class OutboxAdoption final : public IOutboxAdoption {
public:
    OutboxAdoption(IFileSystem& fs, std::string baseDirectory, int ownSlot);
    ~OutboxAdoption() override;  // lets every lock go
    OutboxAdoption(const OutboxAdoption&) = delete;
    OutboxAdoption& operator=(const OutboxAdoption&) = delete;

    std::vector<std::string> adopt() override;
    void release(const std::string& path) override;

private:
    IFileSystem& fs_;
    const std::string base_;
    const int own_;
    std::map<std::string, FileHandle> held_;  // by outbox path
};

}  // namespace kestrel
