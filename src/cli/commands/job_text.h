// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "jobs/backup.h"

namespace kestrel {

class Messages;

// How list and show describe a job.
std::string storageText(const Messages& messages, const clsBackup& job);
std::string destinationText(const clsBackup& job);
std::string lastRunText(const Messages& messages, const clsBackup& job);
const char* statusText(std::int32_t status);
// "daily:mon,fri@08:00, from 2026-01-05 08:00", "none".
std::string describeSchedule(const clsSchedule* schedule);

}  // namespace kestrel
