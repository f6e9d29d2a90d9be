// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kestrel {

struct AppContext;
class JobRunner;

// Exit codes of kestrel-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // the command ran and failed
inline constexpr int kExitBadUsage = 2;  // bad arguments, unknown job, refused input
inline constexpr int kExitAborted = 3;   // stopped by the user

// A refusal of the user's input: reported on the error stream, exit code 2.
struct UsageError {
    std::string message;
};

// A refusal for the state of the job, whatever the input (a job that is locked): reported on
// the error stream, exit code 1.
struct CommandRefused {
    std::string message;
};

// What a command runs with: the program folder's context, the job runner over it (its jobs
// read), and the two output streams.
struct CliEnv {
    AppContext& ctx;
    JobRunner& runner;
    std::ostream& out;
    std::ostream& err;
};

// One command of kestrel-cli.
class Command {
public:
    enum class Needs {
        Context,  // the program folder's context (messages, log, flags), not the jobs
        Jobs,     // the job store, read
    };

    virtual ~Command() = default;
    // Adds the subcommand with its options to the application.
    virtual CLI::App* add(CLI::App& app) = 0;
    virtual Needs needs() const { return Needs::Jobs; }
    // Runs it; throws UsageError for input it refuses.
    virtual int run(CliEnv& env) = 0;
};

std::unique_ptr<Command> makeListCommand();
std::unique_ptr<Command> makeShowCommand();
std::unique_ptr<Command> makeNewCommand();
std::unique_ptr<Command> makeEditCommand();
std::unique_ptr<Command> makeDeleteCommand();
std::unique_ptr<Command> makeRunCommand();
std::unique_ptr<Command> makeSessionsCommand();
std::unique_ptr<Command> makeLsCommand();
std::unique_ptr<Command> makeRestoreCommand();
std::unique_ptr<Command> makeFtpLsCommand();
std::unique_ptr<Command> makeFtpMkdirCommand();
std::unique_ptr<Command> makeCatalogueCommand();
std::unique_ptr<Command> makeVerifyCommand();

// Helpers the commands share.

// Rows of columns, each column as wide as its widest cell, two blanks apart.
void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows);
// "1,234,567"
std::string thousands(std::int64_t n);
// A password option: "-" reads one line from standard input, so that it stays out of the
// process list.
std::string passwordArg(const std::string& value);
// Says that not one job of the job store could be read, naming the file; returns kExitFailed.
int reportUnreadableStore(CliEnv& env);

}  // namespace kestrel
