// kestrel-redecode's console on Windows.

#include "Terminal.h"

#include <cstdio>

#include <io.h>

// cmd.exe hands a wildcard such as Decoded\KR7_beacon_*.txt over as typed;
// the runtime expands it, as a Unix shell does.
extern "C" {
int _dowildcard = -1;
}

namespace kestrel::redecode {

bool errorStreamIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace kestrel::redecode
