// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ostream>

namespace kestrel {

class Clock;

// The headless front end: parses the command line and runs one command (cli/commands/, one file
// each). Standard output gets the command's result, the error stream the log lines, messages
// and errors. Exit codes: see cli/command.h.
int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, Clock& clock);

}  // namespace kestrel
