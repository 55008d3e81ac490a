// kestrel-redecode run as a program, to its end.
#pragma once

#include "support/Child.h"
#include "support/Eventually.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

// Runs the tool in cwd with env's VAR=value pairs added; its exit status, and
// what it printed in `output`.
inline int runRedecode(const std::vector<std::string>& args, const std::filesystem::path& cwd, std::string& output,
                       const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv{"/usr/bin/env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(KESTREL_REDECODE);
    argv.insert(argv.end(), args.begin(), args.end());
    const std::filesystem::path out = cwd / "tool.out";
    Child tool(argv, cwd, out, false);
    EXPECT_TRUE(eventually([&] { return !tool.running(); }, std::chrono::seconds(60)));
    output = readFile(out);
    return tool.terminate();
}

}  // namespace kestrel::test
