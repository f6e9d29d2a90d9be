// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "platform/date_time.h"

namespace kestrel {
class clsBackup;
class Messages;
}  // namespace kestrel

namespace kestrel::ui {

// The texts and icon of a job's row in the main window's list.
std::string jobTypeText(const clsBackup& job, const Messages& messages);
// "backup" or "ftp"; "unknown" before the first run; "fail" after a failed or aborted one;
// "locked" whatever the run, for a job whose password cannot be read.
std::string jobIconKey(const clsBackup& job);
// The last successful run, or "Never" for a date more than ten years from now (an unset date).
std::string lastRunText(const clsBackup& job, const DateTime& now, const Messages& messages);
std::string destinationText(const clsBackup& job);

// The tray tip for a text: a text over 50 characters points to the message list instead, and
// the tip holds at most 64 characters with the program's name on its second line.
std::string trayTipText(const std::string& text);

}  // namespace kestrel::ui
