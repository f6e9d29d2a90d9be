#pragma once

#include <ostream>

namespace kestrel {

class Clock;

// Exit codes of kestrel-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // the command ran and failed
inline constexpr int kExitBadUsage = 2;  // bad arguments, unknown job, refused input
inline constexpr int kExitAborted = 3;   // stopped by the user

// The headless front end: parses the command line and runs one command. Standard output gets
// the command's result, the error stream the log lines, messages and errors.
int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, Clock& clock);

}  // namespace kestrel
