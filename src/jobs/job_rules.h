// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "jobs/backup.h"
#include "jobs/jobs.h"

namespace kestrel {

class Settings;

// The part of a job a problem is about, so that a window can show it.
enum class JobField { None, Name, Sources, Destination, ArchiveType, Password, Schedule };

// Why a job cannot be kept as it stands: the key of the message that says so ("" when it can),
// the text its "%d" stands for, and the part of the job at fault.
struct JobProblem {
    std::string key;
    std::string detail;
    JobField field = JobField::None;
    explicit operator bool() const { return !key.empty(); }
};

// The rules every front end keeps for a new or changed job: a name that can be stored and that
// no other job has in any letter case (originalName: the job's name before the change, "" for a
// new job), at least one source and none twice, a local destination folder that exists, no
// plain copies to an FTP server, and a split size only for archives.
JobProblem checkJob(const clsBackup& job, const Jobs& jobs, std::string_view originalName = {});

// Whether a name can be stored as a job: not empty, no blanks around it, no control characters,
// no "[", "]", "/" or "|" (names become file names and catalogue fields), and not the name of
// the job list section. *whyKey receives the key of the message that says what is wrong.
bool isStorableJobName(std::string_view name, std::string* whyKey = nullptr);

// A name as the program stores it: without "-", which archive volume names use as their
// separator.
std::string cleanJobName(std::string_view name);

// The new-job command's naming: advances the setting "bkpIndex" and returns the proposed name
// ("New backup 4").
std::string NewJob(Settings& settings);

// A split size: a whole number of bytes with an optional suffix K, M or G (1024-based), from 1
// byte to 2,047 MiB. Nothing when the text is none.
std::optional<std::int32_t> parseSplitSize(std::string_view text);

// Whether the password opens a job: any password opens a job without one, none opens a job
// whose password cannot be read.
bool passwordOpens(const clsBackup& job, std::string_view password);

}  // namespace kestrel
