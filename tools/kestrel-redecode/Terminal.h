#pragma once
// What kestrel-redecode asks of the console, one file per platform.

namespace kestrel::redecode {

// Whether standard error goes to a terminal (a progress line is worth drawing).
bool errorStreamIsTerminal();

}  // namespace kestrel::redecode
