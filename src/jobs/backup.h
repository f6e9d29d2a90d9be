// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/date_time.h"

namespace kestrel {

// Outcome of a job's last run (clsBackup::enumStatus).
inline constexpr std::int32_t kStatusNeverRun = 0;
inline constexpr std::int32_t kStatusOk = 1;
inline constexpr std::int32_t kStatusFailed = 2;
inline constexpr std::int32_t kStatusAborted = 3;

// Kinds of schedule (clsSchedule::Tip).
inline constexpr std::uint8_t kScheduleNone = 0;
inline constexpr std::uint8_t kScheduleHourly = 1;
inline constexpr std::uint8_t kScheduleDaily = 2;
inline constexpr std::uint8_t kScheduleMonthly = 3;
inline constexpr std::uint8_t kScheduleOnce = 4;

// Weekday bits of a daily schedule's Data.
inline constexpr std::uint8_t kMonday = 64;
inline constexpr std::uint8_t kTuesday = 32;
inline constexpr std::uint8_t kWednesday = 16;
inline constexpr std::uint8_t kThursday = 8;
inline constexpr std::uint8_t kFriday = 4;
inline constexpr std::uint8_t kSaturday = 2;
inline constexpr std::uint8_t kSunday = 1;

// Source entry kinds (clsBackupFile::bForD).
inline constexpr std::int32_t kSourceFile = 0;
inline constexpr std::int32_t kSourceFolder = 1;

// One source of a job: a single file, or a folder backed up with its contents.
struct clsBackupFile {
    std::string sPath;
    std::int32_t bForD = kSourceFile;
    std::int64_t dSize = 0;  // bytes, as known when the entry was stored; 0 for folders
    std::int32_t Index = 0;  // number of entries the job had when this one was added
};

// When a job runs by itself.
struct clsSchedule {
    std::uint8_t Tip = kScheduleNone;
    DateTime start;         // from when the schedule counts; for "once" the moment of the run
    std::uint8_t Data = 0;  // hourly: minute; daily: weekday bits; monthly: day index; once: 0
    DateTime StartHour;     // daily and monthly: the time of day (its date part is the zero date)
    bool enabled = false;
};

// The FTP destination of a job.
struct clsKestrel {
    std::string hostname;
    std::int32_t port = 21;
    std::string username;
    std::string password;  // plain in memory; scrambled in the job store
    bool bPassiveMode = true;
    // Explicit TLS is required: the run fails when the server refuses it, never falls back.
    bool bTls = false;
    // A certificate the user trusts although no authority vouches for it: the SHA-256 of its
    // DER form, 64 lowercase hex digits; "" for none.
    std::string sTlsPin;
};

// One backup job. The job owns its sources; the schedule and FTP destination are shared
// references, as the editor assigns them.
class clsBackup {
public:
    clsBackup() = default;
    clsBackup(const clsBackup&) = delete;
    clsBackup& operator=(const clsBackup&) = delete;

    // Appends an entry and numbers it with the count of entries before it. A null entry
    // changes nothing and returns null. The returned entry belongs to the job.
    clsBackupFile* AddFile(std::unique_ptr<clsBackupFile> entry);
    // Drops every source entry.
    void ResetFiles() { Files.clear(); }
    // A copy that shares nothing with this job (sources, schedule and FTP record copied too).
    std::unique_ptr<clsBackup> clone() const;

    std::string IncludeMask;
    std::string ExcludeMask;
    std::int64_t RunSize = 0;  // total bytes taken by the current run; never stored
    bool Protected = false;
    std::string password;
    // Protected, but the store's "Protected" value gives no password: the job is locked (it
    // neither runs, nor changes, nor goes) until the user sets a new password. Protected stays
    // true and password empty; storedProtection holds the value as it was read, so that a
    // rewrite of the store loses nothing of it.
    bool passwordUnreadable = false;
    std::string storedProtection;
    std::shared_ptr<clsSchedule> Schedule;  // null = not scheduled
    DateTime lastOK;                        // zero date = never
    bool destFTP = false;
    std::int32_t enumStatus = kStatusNeverRun;
    bool archived = false;
    std::int32_t splitSize = 0;                  // below 1 = no splitting
    std::shared_ptr<clsKestrel> objDestination;  // null for a local destination
    bool bIncremental = false;
    std::vector<std::unique_ptr<clsBackupFile>> Files;
    std::string sDestinationDir;
    bool bZipped = false;
    DateTime nextStart;  // computed from the schedule; never stored
    std::string sName;
};

}  // namespace kestrel
