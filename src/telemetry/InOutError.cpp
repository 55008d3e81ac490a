#include "telemetry/InOutError.h"

namespace kestrel {

std::string ioErrorText(int code) {
    switch (code) {
    case kIoFileAccessDenied: return "File access denied";
    case kIoDiskFull: return "Disk full";
    default: return "I/O error " + std::to_string(code);
    }
}

EInOutError EInOutError::fromCode(int code) { return EInOutError(code, ioErrorText(code)); }

}  // namespace kestrel
