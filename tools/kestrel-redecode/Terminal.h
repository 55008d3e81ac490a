#pragma once
// What kestrel-redecode asks of the console, one file per platform: the
// program's entry (main, wmain on Windows) with the arguments in UTF-8, and
// whether a progress line is worth drawing.

#include <string>
#include <vector>

namespace kestrel::redecode {

// The tool itself (main.cpp): the arguments after the program's name, UTF-8.
int commandLineMain(const std::vector<std::string>& args);

// Whether standard error goes to a terminal (a progress line is worth drawing).
bool errorStreamIsTerminal();

}  // namespace kestrel::redecode
