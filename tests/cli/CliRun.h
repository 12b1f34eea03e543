// Runs the cadenzor tool of the build as a user would and collects its exit
// status and everything it printed.
#pragma once

#include <string>

#include "support/TestSupport.h"

namespace cz::test {

struct CliRun {
    int status;
    std::string out;
};

inline CliRun Cadenzor(const std::string& args, const TempDir& dir) {
    const std::string out = dir.File("out.txt");
    const int status = RunCommand("'" + BinDir() + "/cadenzor' " + args + " >'" + out + "' 2>&1");
    const auto bytes = ReadFileBytes(out);
    return {status, std::string(bytes.begin(), bytes.end())};
}

}  // namespace cz::test
