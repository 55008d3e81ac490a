#pragma once
// The input/output error every file operation of the archive raises: a code and
// the text the operator sees in the exception report.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kestrel {

class EInOutError : public std::runtime_error {
public:
    EInOutError(int code, const std::string& text) : std::runtime_error(text), ErrorCode(code) {}

    // The usual texts: access denied and disk full have words of their own,
    // every other code reads "I/O error <code>".
    static EInOutError fromCode(int code);

    int ErrorCode;
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

// Maps a C errno value: EACCES, EPERM, EROFS -> "File access denied"; ENOSPC ->
// "Disk full"; EEXIST -> kIoFileExists; every other number n -> "I/O error n".
EInOutError ioErrorFromErrno(int err);

}  // namespace kestrel
