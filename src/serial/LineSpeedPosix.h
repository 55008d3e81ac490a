#pragma once
// The rate of a tty on Linux, any rate: the standard termios code where there
// is one, any other rate through BOTHER. The port's device and the simulated
// TNC share it, so both take the same rates.

#include <cstdint>

namespace kestrel {

// The CBAUD bits for rate: the standard code, or BOTHER.
unsigned LineSpeedCode(std::uint32_t rate);

// Sets fd's input and output rate, leaving its other settings alone.
// Returns 0 or the errno of the failing call.
int SetLineSpeed(int fd, std::uint32_t rate);

}  // namespace kestrel
