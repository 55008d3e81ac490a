#pragma once
// Refused frames sent again once the fault is mended (kestrel-redecode
// --requeue-rejects): every rejects file of a station folder is emptied into
// an outbox, each frame with the station's fields as the [Share] section
// names them now (a corrected NoradId, say), under the receive time it had.
// The outbox is that of a slot no program holds (telemetry/StationLock.h):
// a forwarding program on the folder takes it over within seconds, or the
// next start sends it.

#include "telemetry/FileSystem.h"

#include <cstddef>
#include <string>

namespace kestrel {

struct RequeueSummary {
    std::size_t queued = 0;      // frames put into the outbox
    std::size_t unreadable = 0;  // lines that hold no frame: left in the rejects file
    std::string outbox;          // where they went

    // What the command line says of it, on one line.
    std::string text() const;
};

// Throws std::runtime_error saying why nothing (or not everything) was
// queued: a [Share] section that cannot be used, a file that cannot be read
// or written. A kill between the outbox's sync and the rejects files'
// removal leaves them to be queued again by the next run.
RequeueSummary RequeueRejects(const std::string& baseDirectory, IFileSystem& fs = systemFileSystem());

}  // namespace kestrel
