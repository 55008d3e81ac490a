// A port's failure to open put into plain words (see PortFailure.h).

#include "station/PortFailure.h"

#include "serial/CPort.h"

namespace kestrel {
namespace {

// Windows error numbers; the POSIX device reports its errno mapped to them.
enum : int {
    kInvalidFunction = 1,
    kFileNotFound = 2,
    kPathNotFound = 3,
    kAccessDenied = 5,
    kBadUnit = 20,
    kSharingViolation = 32,
    kNotSupported = 50,
    kDevNotExist = 55,
    kInvalidName = 123,
    kBusy = 170,
};

std::string OpenFailure(int systemError, PortHost host) {
    switch (systemError) {
    case kFileNotFound:
    case kPathNotFound:
    case kBadUnit:
    case kDevNotExist:
    case kInvalidName: return "no such device";
    case kAccessDenied:
        // Windows refuses a port another program has open this way.
        return host == PortHost::Windows ? "in use by another program"
                                         : "permission denied (add your user to the dialout group)";
    case kSharingViolation:
    case kBusy: return "in use by another program";
    case kInvalidFunction:
    case kNotSupported: return "not a serial port";
    }
    const std::string words = PortErrorWords(systemError);
    return "cannot be opened (error " + std::to_string(systemError) + (words.empty() ? "" : ": " + words) + ")";
}

}  // namespace

std::string PortDeviceName(const std::string& port, PortHost host) {
    if (host == PortHost::Posix && !port.empty() && port[0] != '/')
        return "/dev/" + port;
    return port;
}

std::string PortFailureReason(const std::string& port, int errorCode, int systemErrorCode, PortHost host) {
    if (port.empty())
        return "no port chosen (pick one in Settings)";
    std::string why;
    switch (errorCode) {
    case CError_OpenFailed: why = OpenFailure(systemErrorCode, host); break;
    case CError_SetStateFailed:
    case CError_TimeoutsFailed:
    case CError_SetupComFailed: why = "the driver refused the line settings"; break;
    case CError_ModemStatFailed: why = "its modem lines cannot be read"; break;
    default:
        why = EComPort(errorCode, systemErrorCode).what();
        if (const std::string words = systemErrorCode == -1 ? "" : PortErrorWords(systemErrorCode); !words.empty())
            why += ": " + words;
        break;
    }
    return PortDeviceName(port, host) + ": " + why;
}

std::string PortFailureReason(const std::string& port, std::exception_ptr failure, PortHost host) {
    try {
        std::rethrow_exception(failure);
    } catch (const EComPort& e) {
        return PortFailureReason(port, e.ErrorCode, e.SystemErrorCode, host);
    } catch (const std::exception& e) {
        return PortDeviceName(port, host) + ": " + e.what();
    } catch (...) {
        return PortDeviceName(port, host) + ": cannot be opened";
    }
}

}  // namespace kestrel
