// Line rates on a Linux tty: the standard termios codes, and BOTHER with the
// exact rate for every other one.

#include "serial/LineSpeedPosix.h"

#include <asm/termbits.h>  // termios2, BOTHER; <termios.h> would clash with it
#include <sys/ioctl.h>

#include <cerrno>

namespace kestrel {

unsigned LineSpeedCode(std::uint32_t rate) {
    switch (rate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return BOTHER;
    }
}

int SetLineSpeed(int fd, std::uint32_t rate) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    const unsigned code = LineSpeedCode(rate);
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code | (code << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ::ioctl(fd, TCSETS2, &t) != 0 ? errno : 0;
}

}  // namespace kestrel
