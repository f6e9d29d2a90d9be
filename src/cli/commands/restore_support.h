#pragma once

#include <optional>
#include <string>

#include "cli/command.h"
#include "platform/date_time.h"
#include "restore/restore.h"

namespace kestrel {

// The restore state of a job for sessions, ls and restore: its catalogue loaded, for an FTP
// job through a logged-in session. Usage errors for an unknown job, an unreachable server or a
// catalogue that cannot be loaded.
RestoreState openForRestore(CliEnv& env, const std::string& name);

// A --session option: nothing when empty; a usage error when it is not a stamp as `sessions`
// lists it.
std::optional<DateTime> sessionArg(const std::string& stamp);

}  // namespace kestrel
