#pragma once
// The decoder's command line. The program takes its configuration from the
// settings file only; the command line can merely ask for the help or the
// version, which both front ends answer before any window or file exists, or
// for the user's station folder (--station: what the menu entry and the
// Start-menu shortcut start it with).

#include <string>
#include <vector>

namespace kestrel {

struct CommandLineAnswer {
    enum Kind { Run, Help, Version, Refused };
    Kind kind = Run;
    std::string text;            // what to print: the help, the version or the refusal
    int exitCode = 0;            // for everything but Run
    bool stationFolder = false;  // Run in the user's station folder (StationFolder.h)
};

// args: the arguments without the program's name.
CommandLineAnswer ReadDecoderCommandLine(const std::vector<std::string>& args);

// The help's text after the usage line: the folders and ports it names are
// the platform's own (CommandLinePosix.cpp, CommandLineWin32.cpp).
const char* DecoderHelpBody();

// kestrel-trends' command line (both programs): --help, --version, or at most
// one PATH, which goes to `path` (empty: the current directory).
CommandLineAnswer ReadTrendsCommandLine(const std::vector<std::string>& args, std::string& path);

// "<program> <version>" and the licence lines, for every program's --version.
std::string VersionText(const std::string& program);

}  // namespace kestrel
