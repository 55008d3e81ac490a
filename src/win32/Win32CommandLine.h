#pragma once
// The Windows program's answer to --help, --version and other arguments.

namespace kestrel {

// Answers the command line when it holds anything and returns true, with the
// exit code in exitCode; false: no arguments, start the window.
bool AnswerWin32CommandLine(int& exitCode);

}  // namespace kestrel
