// The Windows error number for an errno, so a port error reads the same on
// every build.

#include "serial/SystemErrorPosix.h"

#include <cerrno>

namespace kestrel {

int WinErrorFromErrno(int error) {
    switch (error) {
    case 0: return 0;
    case ENOTTY: return 1;   // ERROR_INVALID_FUNCTION: what comm calls on a non-comm handle give
    case ENOENT: return 2;   // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;  // ERROR_PATH_NOT_FOUND
    case EMFILE:
    case ENFILE: return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
    case EISDIR: return 5;   // ERROR_ACCESS_DENIED
    case EBADF: return 6;    // ERROR_INVALID_HANDLE
    case ENOMEM: return 8;   // ERROR_NOT_ENOUGH_MEMORY
    case EROFS: return 19;   // ERROR_WRITE_PROTECT
    case ENODEV: return 20;  // ERROR_BAD_UNIT
    case ENOSYS:
    case EOPNOTSUPP: return 50;  // ERROR_NOT_SUPPORTED
    case ENXIO: return 55;       // ERROR_DEV_NOT_EXIST
    case EEXIST: return 80;      // ERROR_FILE_EXISTS
    case EINVAL: return 87;      // ERROR_INVALID_PARAMETER
    case EPIPE: return 109;      // ERROR_BROKEN_PIPE
    case ENOSPC: return 112;     // ERROR_DISK_FULL
    case EBUSY:
    case EAGAIN: return 170;        // ERROR_BUSY (flock and TIOCEXCL: the port is someone else's)
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EFAULT: return 487;        // ERROR_INVALID_ADDRESS
    case EINTR:
    case ECANCELED: return 995;   // ERROR_OPERATION_ABORTED
    case EIO: return 1117;        // ERROR_IO_DEVICE
    case ETIMEDOUT: return 1460;  // ERROR_TIMEOUT
    case ELOOP: return 1921;      // ERROR_CANT_RESOLVE_FILENAME
    default: return error > 0 ? (kUnmappedErrnoBit | error) : error;
    }
}

}  // namespace kestrel
