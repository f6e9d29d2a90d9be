#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "platform/clock.h"

namespace kestrel::test {

struct CliResult {
    int code;
    std::string out;
    std::string err;
};

// kestrel-cli run in this process over the program folder home, with the test's clock;
// stdinText stands in for its standard input.
inline CliResult runCliIn(const std::string& home, std::vector<std::string> args, Clock& clock,
                          const std::string& stdinText = "") {
    args.insert(args.begin(), {"kestrel-cli", "--home", home});
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(stdinText);
    std::streambuf* const stdinBuffer = std::cin.rdbuf(in.rdbuf());
    const int code = runCli(static_cast<int>(argv.size()), argv.data(), out, err, clock);
    std::cin.rdbuf(stdinBuffer);
    std::cin.clear();
    return {code, out.str(), err.str()};
}

}  // namespace kestrel::test
