// kestrel-redecode's console on POSIX systems: the arguments are bytes,
// UTF-8 in a UTF-8 locale, as file names are.

#include "Terminal.h"

#include <cstdio>

#include <unistd.h>

namespace kestrel::redecode {

bool errorStreamIsTerminal() { return isatty(fileno(stderr)) != 0; }

}  // namespace kestrel::redecode

int main(int argc, char** argv) {
    return kestrel::redecode::commandLineMain(std::vector<std::string>(argv + 1, argv + argc));
}
