#include "share/Outbox.h"

#include <unistd.h>

namespace kestrel {

bool SyncToDisk(std::FILE* file) { return std::fflush(file) == 0 && fdatasync(fileno(file)) == 0; }

}  // namespace kestrel
