// The programs' command line: --help and --version answered without a window
// or a file touched, anything else refused (see CommandLine.h).

#include "station/CommandLine.h"

#include "BuildVersion.h"

namespace kestrel {

namespace {

const char* const kUsageLine = "Usage: kestrel-decoder [--station | --help | --version]\n";

}  // namespace

CommandLineAnswer ReadDecoderCommandLine(const std::vector<std::string>& args) {
    if (args.empty())
        return {};
    if (args.size() == 1 && args[0] == "--station") {
        CommandLineAnswer a;
        a.stationFolder = true;
        return a;
    }
    const auto isHelp = [](const std::string& a) { return a == "--help" || a == "-h"; };
    const bool request = isHelp(args[0]) || args[0] == "--version";
    if (request && args.size() == 1)
        return isHelp(args[0])
                   ? CommandLineAnswer{CommandLineAnswer::Help, std::string(kUsageLine) + DecoderHelpBody(), 0}
                   : CommandLineAnswer{CommandLineAnswer::Version, VersionText("kestrel-decoder"), 0};
    // A request takes nothing after it, nor --station; anything else is not
    // an option at all.
    const std::string& odd = request || args[0] == "--station" ? args[1] : args[0];
    return {CommandLineAnswer::Refused,
            "kestrel-decoder: unexpected argument '" + odd +
                "' (the program takes its settings from RS232Settings.ini)\n" + kUsageLine,
            2};
}

std::string VersionText(const std::string& program) {
    return program + " " KESTREL_PACKAGE_VERSION
                     "\n"
                     "Copyright (C) 2026 KESTREL team\n"
                     "License GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>.\n"
                     "This is free software: you are free to change and redistribute it.\n"
                     "There is NO WARRANTY, to the extent permitted by law.\n";
}

CommandLineAnswer ReadTrendsCommandLine(const std::vector<std::string>& args, std::string& path) {
    CommandLineAnswer a;
    path.clear();
    for (const std::string& arg : args) {
        if (arg == "--version") {
            a.kind = CommandLineAnswer::Version;
            a.text = VersionText("kestrel-trends");
            return a;
        }
        if (arg == "-h" || arg == "--help") {
            a.kind = CommandLineAnswer::Help;
            a.text =
                "Usage: kestrel-trends [PATH]\n\n"
                "Shows battery voltage, currents, temperatures and magnetic field of the\n"
                "beacons against their receive time (UTC), and their GPS positions on a\n"
                "world map. PATH is a station folder (the one holding Telemetry; every\n"
                "BeaconTextLog below Telemetry/Decoded is read), one BeaconTextLog, or a\n"
                "CSV written by kestrel-redecode --csv. It defaults to the current\n"
                "directory. The station's position comes from the [Share] section of\n"
                "RS232Settings.ini in the station folder, when it has one.\n\n"
                "  -h, --help   show this help\n"
                "  --version    show the version\n";
            return a;
        }
    }
    const bool option = !args.empty() && args[0].rfind("-", 0) == 0 && args[0] != "-";
    if (args.size() > 1 || option) {
        a.kind = CommandLineAnswer::Refused;
        a.text = option ? "kestrel-trends: unknown option '" + args[0] + "'\n"
                        : std::string("kestrel-trends: give at most one folder or file\n");
        a.text += "Usage: kestrel-trends [PATH]  (see --help)\n";
        a.exitCode = 2;
        return a;
    }
    if (!args.empty())
        path = args[0];
    return a;
}

}  // namespace kestrel
