// The archive's input/output errors: codes, texts, and errno turned into them.

#include "telemetry/InOutError.h"

#include <cerrno>

namespace kestrel {

std::string ioErrorText(int code) {
    switch (code) {
    case kIoFileAccessDenied: return "File access denied";
    case kIoDiskFull: return "Disk full";
    default: return "I/O error " + std::to_string(code);
    }
}

EInOutError EInOutError::fromCode(int code) { return EInOutError(code, ioErrorText(code)); }

EInOutError ioErrorFromErrno(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return EInOutError::fromCode(kIoFileAccessDenied);
    case ENOSPC: return EInOutError::fromCode(kIoDiskFull);
    case EEXIST: return EInOutError::fromCode(kIoFileExists);
    // The number alone: it may coincide with one of the codes above.
    default: return EInOutError(err, "I/O error " + std::to_string(err));
    }
}

}  // namespace kestrel
