// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kestrel {

struct ProgramEnv;

// Catches SIGINT and SIGTERM and lets the program's loop see them: a stop ends the program
// through its quit, aborting a running backup cleanly. Kept apart from the windows, whose
// headers take the word "signals" for themselves.
void watchStopSignals(ProgramEnv& env);

}  // namespace kestrel
