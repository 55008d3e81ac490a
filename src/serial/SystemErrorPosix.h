#pragma once
// The Windows error number for an errno value, so that the " (win error
// code: %d)" of a port error means the same on every build: EIO is 5 on
// Linux, which Windows reads as "access denied".

namespace kestrel {

// Set in numbers Windows never uses for its own errors (the bit it leaves to
// applications): an errno without a Windows counterpart comes out as this bit
// with the errno in the low bits, so it is never mistaken for a Windows error.
inline constexpr int kUnmappedErrnoBit = 0x20000000;

int WinErrorFromErrno(int error);

}  // namespace kestrel
