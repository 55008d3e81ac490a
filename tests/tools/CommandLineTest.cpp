// The program's command line: --help and --version answer without a window
// and without a file; anything else is refused.
#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"

#include <gtest/gtest.h>

using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    int exitCode;
    std::string output;
    std::vector<std::string> filesLeft;  // besides the output
};

Outcome runDecoder(std::vector<std::string> args) {
    ScratchDir work("kestrel-cli");
    ScratchDir out("kestrel-cli-out");
    args.insert(args.begin(), KESTREL_DECODER);
    // Not offscreen: had it started the window instead, it would not end with
    // 0 within the bound.
    Child decoder(args, work.path(), out / "decoder.out", false);
    Outcome o{decoder.waitExit(10s), readFile(out / "decoder.out"), {}};
    for (const auto& e : fs::directory_iterator(work.path()))
        o.filesLeft.push_back(e.path().filename().string());
    return o;
}

}  // namespace

TEST(DecoderCommandLine, HelpAndVersionAnswerWithoutWindowOrFiles) {
    for (const char* request : {"--help", "--version"}) {
        const Outcome o = runDecoder({request});
        EXPECT_EQ(o.exitCode, 0) << request << ": " << o.output;
        EXPECT_NE(o.output.find("kestrel-decoder"), std::string::npos) << request;
        EXPECT_TRUE(o.filesLeft.empty()) << request << " left " << o.filesLeft.front();
    }
}

TEST(DecoderCommandLine, AnyOtherArgumentIsRefusedWithTheUsage) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"COM3"}, {"--version", "--help"}, {"--station", "COM3"}}) {
        const Outcome o = runDecoder(args);
        EXPECT_EQ(o.exitCode, 2) << o.output;
        EXPECT_NE(o.output.find("Usage: kestrel-decoder"), std::string::npos) << o.output;
        EXPECT_TRUE(o.filesLeft.empty());
    }
}

// An option a tool does not know ends it with 2 and its usage line, with or
// without a display (kestrel-trends refuses before it needs one).
TEST(ToolsCommandLine, AnUnknownOptionIsRefusedWithTheUsageLine) {
    const std::string savedDisplay = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    unsetenv("DISPLAY");
    for (const std::vector<std::string>& args : {std::vector<std::string>{KESTREL_DECODER, "--bogus"},
                                                 {KESTREL_TRENDS, "--bogus"},
                                                 {KESTREL_TNC_SIM, "--quietx"},
                                                 {KESTREL_REDECODE, "--bogus", "log.KR7"}}) {
        ScratchDir work("kestrel-cli");
        Child tool(args, work.path(), work / "out", false);
        const int exitCode = tool.waitExit(10s);
        const std::string out = readFile(work / "out");
        const std::string name = fs::path(args[0]).filename().string();
        EXPECT_EQ(exitCode, 2) << name << ": " << out;
        EXPECT_NE(out.find("Usage: " + name), std::string::npos) << out;
        EXPECT_NE(out.find(args[1]), std::string::npos) << "the option is not named: " << out;
        EXPECT_EQ(out.find("needs a value"), std::string::npos) << out;
    }
    if (!savedDisplay.empty())
        setenv("DISPLAY", savedDisplay.c_str(), 1);
}

// --station, as the menu entry starts it: ~/KESTREL is made and is where
// everything goes; a home where it cannot be made is said with the reason,
// and the program works where it was started.
TEST(DecoderCommandLine, StationWorksInTheUsersStationFolderOrSaysWhyNot) {
    ScratchDir home("kestrel-cli-home");
    ScratchDir work("kestrel-cli");
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    writeFile(home / "file", "not a folder");
    for (const bool usable : {true, false}) {
        const fs::path homeDir = usable ? home.path() : home / "file";
        setenv("HOME", homeDir.c_str(), 1);
        Child decoder({KESTREL_DECODER, "--station"}, work.path(), home / "decoder.out", true);
        const fs::path archive = (usable ? homeDir / "KESTREL" : work.path()) / "Telemetry" / "raw_log";
        EXPECT_TRUE(eventually([&] { return fs::exists(archive) || !decoder.running(); }, 15s)) << usable;
        EXPECT_EQ(decoder.terminate(), 0) << readFile(home / "decoder.out");
        EXPECT_TRUE(fs::exists(archive)) << usable << ": " << readFile(home / "decoder.out");
        const std::string said =
            "The station folder " + (homeDir / "KESTREL").string() + " cannot be used (Not a directory)";
        EXPECT_EQ(readFile(home / "decoder.out").find(said) != std::string::npos, !usable)
            << readFile(home / "decoder.out");
    }
    setenv("HOME", savedHome.c_str(), 1);
    EXPECT_TRUE(fs::exists(home / "KESTREL" / "RS232Settings.ini")) << "settings stored in the station folder";
}

// A menu start where neither the station folder nor the folder it falls back
// to can be written: one box says both, and its advice is not "start it from
// the menu", which is how it was started.
TEST(DecoderCommandLine, AStationStartThatCannotArchiveSaysWhatToMendInOneSentence) {
    ScratchDir home("kestrel-cli-home");
    ScratchDir work("kestrel-cli");
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    writeFile(home / "file", "not a folder");
    writeFile(work / "Telemetry", "not a folder either");
    setenv("HOME", (home / "file").c_str(), 1);
    Child decoder({KESTREL_DECODER, "--station"}, work.path(), home / "decoder.out", true);
    const auto said = [&] { return readFile(home / "decoder.out"); };
    EXPECT_TRUE(eventually([&] { return said().find("start the program again") != std::string::npos; }, 15s)) << said();
    decoder.terminate();
    setenv("HOME", savedHome.c_str(), 1);
    const std::string kestrel = (home / "file" / "KESTREL").string();
    EXPECT_NE(said().find("The station folder " + kestrel + " cannot be used (Not a directory). The program works in " +
                          work.path().string() + " instead. Nothing received is archived in "),
              std::string::npos)
        << said();
    EXPECT_NE(said().find("make " + kestrel + " a folder you can write to"), std::string::npos) << said();
    EXPECT_EQ(said().find("or from the menu"), std::string::npos) << said();
}
