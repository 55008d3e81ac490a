// kestrel-redecode's console on POSIX systems.

#include "Terminal.h"

#include <cstdio>

#include <unistd.h>

namespace kestrel::redecode {

bool errorStreamIsTerminal() { return isatty(fileno(stderr)) != 0; }

}  // namespace kestrel::redecode
