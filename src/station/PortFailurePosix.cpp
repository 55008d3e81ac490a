// A port's system error in the system's words, on Linux (see PortFailure.h):
// the device reports its errno as a Windows number, so the number is taken
// back to an errno with those words.

#include "station/PortFailure.h"

#include "serial/SystemErrorPosix.h"
#include "telemetry/InOutError.h"

#include <cerrno>

namespace kestrel {

PortHost ThisPortHost() { return PortHost::Posix; }

std::string PortErrorWords(int systemErrorCode) {
    if (systemErrorCode > 0 && (systemErrorCode & kUnmappedErrnoBit))
        return errnoWords(systemErrorCode & ~kUnmappedErrnoBit);
    // The numbers WinErrorFromErrno gives, each to the first errno it takes.
    for (const int err :
         {ENOTTY, ENOENT, ENOTDIR, EMFILE, EACCES, EBADF,        ENOMEM, EROFS,     ENODEV, EOPNOTSUPP, ENXIO,
          EEXIST, EINVAL, EPIPE,   ENOSPC, EBUSY,  ENAMETOOLONG, EFAULT, ECANCELED, EIO,    ETIMEDOUT,  ELOOP})
        if (WinErrorFromErrno(err) == systemErrorCode)
            return errnoWords(err);
    return {};
}

}  // namespace kestrel
