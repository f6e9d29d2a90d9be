// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "platform/clock.h"
#include "support/fake_clock.h"
#include "support/faults.h"
#include "support/program.h"
#include "support/temp_dir.h"

namespace kestrel::test {

struct CliResult {
    int code;
    std::string out;
    std::string err;
};

// A program folder and a data folder, kestrel-cli in this process (cli) or on its own (cliArgs).
template <class ClockType = FakeClock, class Base = ::testing::Test>
class CliFixture : public Base {
protected:
    TempDir home;
    TempDir data;
    ClockType clock;

    // stdinText stands in for the standard input.
    CliResult cli(std::vector<std::string> args, const std::string& stdinText = "") {
        args.insert(args.begin(), {"kestrel-cli", "--home", home.path()});
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
    std::vector<std::string> cliArgs(std::vector<std::string> args) const {
        args.insert(args.begin(), {cliPath(), "--home", home.path()});
        return args;
    }
};

// Every regular file below a folder, by its (relative) path, with its content.
inline std::map<std::string, std::string> filesBelow(const std::string& folder,
                                                     bool relative = false) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) {
            const auto& p = it->path();
            files[relative ? std::filesystem::relative(p, folder).string() : p.string()] =
                readAll(p.string());
        }
    }
    return files;
}

// The session stamps (14 digits) that begin the rows of a `sessions` listing.
inline std::vector<std::string> sessionStamps(const std::string& listing) {
    std::vector<std::string> stamps;
    std::istringstream rows(listing);
    for (std::string row; std::getline(rows, row);) {
        const std::string stamp = row.substr(0, row.find(' '));
        if (stamp.size() == 14 && stamp.find_first_not_of("0123456789") == std::string::npos) {
            stamps.push_back(stamp);
        }
    }
    return stamps;
}

// argv run with the fault shim; fault: the first fault it made, none when it met none.
inline ProgramResult runFaulted(const std::vector<std::string>& argv,
                                std::vector<std::pair<std::string, std::string>> env,
                                const std::string& report, std::optional<ShimFault>& fault) {
    std::filesystem::remove(report);
    env.emplace_back("KESTREL_FAULT_REPORT", report);
    const ProgramResult r = runProgram(withFaults(argv, env));
    const std::vector<ShimFault> made = readFaultReport(report);
    fault = made.empty() ? std::nullopt : std::optional<ShimFault>(made.front());
    return r;
}

}  // namespace kestrel::test
