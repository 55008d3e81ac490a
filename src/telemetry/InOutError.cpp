// The archive's input/output errors: codes, texts, and errno turned into them.

#include "telemetry/InOutError.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace kestrel {

std::string ioErrorText(int code, const std::string& words) {
    std::string text = "I/O error " + std::to_string(code);
    if (!words.empty())
        text += " (" + words + ")";
    return text;
}

std::string ioErrorText(int code) {
    switch (code) {
    case kIoFileAccessDenied: return "File access denied";
    case kIoDiskFull: return "Disk full";
    case kIoFileNotFound: return ioErrorText(code, "file not found");
    case kIoFileExists: return ioErrorText(code, "file exists");
    case kIoFileNotOpen: return ioErrorText(code, "file not open");
    default: return ioErrorText(code, {});
    }
}

EInOutError EInOutError::fromCode(int code) {
    return EInOutError(code, ioErrorText(code), code == kIoDiskFull ? IoCause::DiskFull : IoCause::Other);
}

std::string errnoWords(int err) {
#ifdef __GLIBC__
    // Untranslated: a German text inside an English sentence reads worse
    // than the English words.
    const char* text = strerrordesc_np(err);
#else
    const char* text = std::strerror(err);
#endif
    std::string words = text ? text : "";
    // A sentence's first letter, unless the word is a name ("TLS ...").
    if (words.size() > 1 && std::isupper(static_cast<unsigned char>(words[0])) &&
        std::islower(static_cast<unsigned char>(words[1])))
        words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
    return words;
}

EInOutError ioErrorFromErrno(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return EInOutError::fromCode(kIoFileAccessDenied);
    case ENOSPC: return EInOutError::fromCode(kIoDiskFull);
    case EEXIST: return EInOutError::fromCode(kIoFileExists);
    // The number with the system's words: it may coincide with one of the codes above.
    case EFBIG: return EInOutError(err, ioErrorText(err, errnoWords(err)), IoCause::FileTooLarge);
#ifdef EDQUOT
    case EDQUOT: return EInOutError(err, ioErrorText(err, errnoWords(err)), IoCause::Quota);
#endif
    default: return EInOutError(err, ioErrorText(err, errnoWords(err)));
    }
}

}  // namespace kestrel
