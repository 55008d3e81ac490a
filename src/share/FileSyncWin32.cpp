#include "share/Outbox.h"

#include <io.h>

namespace kestrel {

bool SyncToDisk(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

}  // namespace kestrel
