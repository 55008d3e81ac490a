#pragma once
// The input/output error every file operation of the archive raises: a code and
// the text the operator sees in the exception report.

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
};

// Codes in the numbering the archive reports (not errno values).
constexpr int kIoFileNotFound = 2;
constexpr int kIoFileAccessDenied = 5;
constexpr int kIoFileNotOpen = 103;
constexpr int kIoDiskFull = 101;

std::string ioErrorText(int code);

}  // namespace kestrel
