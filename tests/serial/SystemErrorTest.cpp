// The Windows numbers of POSIX errors.

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/SystemErrorPosix.h"

namespace kestrel {
namespace {

TEST(WinErrorFromErrno, CommonErrorsGetTheirWindowsNumberOthersAMarkedOne) {
    EXPECT_EQ(WinErrorFromErrno(0), 0);
    EXPECT_EQ(WinErrorFromErrno(ENOENT), 2);
    EXPECT_EQ(WinErrorFromErrno(EACCES), 5);
    EXPECT_EQ(WinErrorFromErrno(EBADF), 6);
    EXPECT_EQ(WinErrorFromErrno(EINVAL), 87);
    EXPECT_EQ(WinErrorFromErrno(EIO), 1117);
    EXPECT_EQ(WinErrorFromErrno(ETIMEDOUT), 1460);
    EXPECT_EQ(WinErrorFromErrno(EDOM), kUnmappedErrnoBit | EDOM);
}

}  // namespace
}  // namespace kestrel
