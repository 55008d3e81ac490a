#pragma once
// The Windows programs' answers to --help, --version and other arguments.

#include "station/CommandLine.h"

namespace kestrel {

// Shows an answer that is not Run (help, version, refusal): on the redirected
// output, else in a message box; true then, with its exit code.
bool ShowWin32CommandLineAnswer(const CommandLineAnswer& answer, int& exitCode);

// Answers the command line when it holds anything but --station and returns
// true, with the exit code in exitCode; false: start the window (in the
// station folder with --station).
bool AnswerWin32CommandLine(int& exitCode);

}  // namespace kestrel
