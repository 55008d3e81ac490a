#pragma once
// The input/output error every file operation of the archive raises: a code and
// the text the operator sees in the exception report.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kestrel {

// Why a write stored less than it was given, as far as a new file could help.
enum class IoCause {
    Other,
    FileTooLarge,  // the file reached the largest size allowed: a new file takes more
    DiskFull,      // no room on the disk (or so the system says: FAT32's 4 GiB limit reads so on Windows)
    Quota,         // the user's quota is used up: a new file counts against it too
};

class EInOutError : public std::runtime_error {
public:
    EInOutError(int code, const std::string& text, IoCause cause = IoCause::Other)
        : std::runtime_error(text), ErrorCode(code), Cause(cause) {}

    // The archive's own codes in words: access denied and disk full as the
    // operator knows them, the others as "I/O error <code> (<words>)".
    static EInOutError fromCode(int code);

    int ErrorCode;
    IoCause Cause;
    // What a failing write still stored of the bytes it was given.
    std::size_t BytesWritten = 0;
};

// Codes in the numbering the archive reports. Failures without a code of their
// own carry the operating system's error number.
constexpr int kIoFileNotFound = 2;
constexpr int kIoFileAccessDenied = 5;
constexpr int kIoFileExists = 80;  // a new file was asked for and the name is taken
constexpr int kIoDiskFull = 101;   // also a write that stored fewer bytes than asked
constexpr int kIoFileNotOpen = 103;

std::string ioErrorText(int code);
// "I/O error <code> (<words>)", or the number alone when there are no words.
std::string ioErrorText(int code, const std::string& words);

// The C library's words for an errno value, starting in lower case ("file too
// large"), in English whatever the locale, like the rest of the program's texts.
std::string errnoWords(int err);

// Maps a C errno value: EACCES, EPERM, EROFS -> "File access denied"; ENOSPC ->
// "Disk full"; EEXIST -> kIoFileExists; every other number n -> "I/O error n
// (<its words>)", EFBIG and EDQUOT with their causes.
EInOutError ioErrorFromErrno(int err);

}  // namespace kestrel
