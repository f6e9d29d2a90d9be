// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/command.h"
#include "platform/date_time.h"
#include "restore/restore.h"

namespace kestrel {

// The restore state of a job for sessions, ls and restore: its catalogues loaded, for an FTP
// job through a logged-in session. keptPassword (an option value, "-" reads standard input) is
// tried on a catalogue the job's password does not open. Usage errors for an unknown job, an
// unreachable server or no catalogue that can be loaded. keep, when given, names the files whose
// records are kept (see RestoreState::keepRecord).
RestoreState openForRestore(CliEnv& env, const std::string& name,
                            const std::string& keptPassword = "",
                            std::function<bool(const std::string&)> keep = nullptr);

// The --kept-password option of sessions, ls and restore.
void addKeptPasswordOption(CLI::App& command, std::string& value);

// A --session option: nothing when empty; a usage error when it is not a stamp as `sessions`
// lists it.
std::optional<DateTime> sessionArg(const std::string& stamp);

}  // namespace kestrel
