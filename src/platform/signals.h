// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kestrel::signals {

// From now on SIGINT and SIGTERM are noted instead of ending the process, so that a run can stop
// cleanly; a second one while the first is still noted ends the process at once (exit code 130).
void catchStopSignals();

// The stop signal noted since catchStopSignals (or the last clear), 0 when none. Safe to call at
// any time from any thread.
int caughtStopSignal();
void clearCaughtStopSignal();

}  // namespace kestrel::signals
