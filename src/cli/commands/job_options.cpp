// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands/job_options.h"

#include "cli/command.h"
#include "core/app_context.h"
#include "ftp/ftp_client.h"
#include "jobs/job_rules.h"
#include "jobs/job_store.h"
#include "jobs/schedule_text.h"
#include "platform/file_facts.h"
#include "platform/fs.h"
#include "platform/host_address.h"
#include "platform/text.h"

namespace kestrel {
namespace {

std::string scheduleSyntax(ScheduleTextError error) {
    switch (error) {
        case ScheduleTextError::BadMinute:
            return "hourly:MINUTE with a minute from 0 to 59";
        case ScheduleTextError::BadDays:
        case ScheduleTextError::BadTime:
            return "daily:DAYS@HH:MM with DAYS a list of mon,tue,...,sun or every, or "
                   "monthly:DAY@HH:MM";
        case ScheduleTextError::BadDay:
            return "monthly:DAY@HH:MM with DAY from 1 to 31 or last";
        case ScheduleTextError::BadDate:
            return "once:YYYY-MM-DD HH:MM";
        case ScheduleTextError::NoKind:
        case ScheduleTextError::UnknownKind:
        case ScheduleTextError::None:
            break;
    }
    return "hourly:, daily:, monthly: or once:";
}

// Help texts whose default only means something for a new job.
CLI::Option* withDefault(CLI::Option* option, JobOptions::Use use) {
    return use == JobOptions::Use::New ? option->capture_default_str() : option;
}

}  // namespace

void JobOptions::add(CLI::App& command) {
    const bool edit = m_use == Use::Edit;
    m_nameOption = command.add_option(
        "--name", m_name,
        edit ? "New name of the job (\"-\" is removed)"
             : "Job name (\"-\" is removed); default: the next \"New backup N\"");
    m_sourceOption = command.add_option(
        "--source", m_sources,
        edit ? "File or folder to back up (repeatable); replaces every source of the job"
             : "File or folder to back up (repeatable)");
    if (!edit) {
        m_sourceOption->required();
    }
    m_destOption =
        command.add_option("--dest", m_dest, "Destination folder (on the FTP server with --ftp)");
    m_ftpOption =
        command.add_option("--ftp", m_ftpHost, "FTP server: the destination is on this host");
    m_ftpPortOption =
        withDefault(command.add_option("--ftp-port", m_ftpPort, "FTP control port"), m_use);
    m_ftpUserOption =
        withDefault(command.add_option("--ftp-user", m_ftpUser, "FTP user name"), m_use);
    m_ftpPasswordOption = command.add_option("--ftp-password", m_ftpPassword,
                                             "FTP password; \"-\" reads it from standard input");
    auto* active =
        command.add_flag("--ftp-active", m_ftpActive, "Use active (PORT) data connections");
    if (edit) {
        command.add_flag("--ftp-passive", m_ftpPassive, "Use passive (PASV) data connections")
            ->excludes(active);
        command.add_flag("--no-ftp", m_noFtp, "The destination is a local folder again (--dest)")
            ->excludes(m_ftpOption);
    }
    m_ftpTlsOption = withDefault(
        command.add_option("--ftp-tls", m_ftpTls,
                           "off, or required: log in and send everything inside TLS (FTPS), and "
                           "fail when the server does not offer it"),
        m_use);
    m_ftpTlsPinOption = command.add_option(
        "--ftp-tls-pin", m_ftpTlsPin,
        std::string("SHA-256 fingerprint of a server certificate to trust although no authority "
                    "vouches for it (a self-signed one)") +
            (edit ? "; \"none\" removes the pin" : ""));
    m_typeOption = withDefault(command.add_option("--type", m_type, "full or incremental"), m_use);
    m_storageOption = withDefault(
        command.add_option("--storage", m_storage, "copy, archive or compressed"), m_use);
    m_splitOption =
        command.add_option("--split", m_split, "Split the archive into volumes of SIZE (K, M, G)");
    if (edit) {
        command.add_flag("--no-split", m_noSplit, "Keep the archive in one volume")
            ->excludes(m_splitOption);
    }
    m_includeOption = withDefault(
        command.add_option("--include", m_include, "Include mask, e.g. \"*.doc;*.txt\""), m_use);
    m_excludeOption = command.add_option("--exclude", m_exclude, "Exclude mask, e.g. \"*.tmp\"");
    m_passwordOption = command.add_option(
        "--password", m_password,
        edit ? "New password of the job; \"-\" reads it from standard input"
             : "Protect the job and encrypt its archives; \"-\" reads it from standard input");
    if (edit) {
        command.add_flag("--no-password", m_noPassword, "Remove the job's password")
            ->excludes(m_passwordOption);
    }
    m_scheduleOption = command.add_option(
        "--schedule", m_schedule,
        std::string(edit ? "none | " : "") +
            "hourly:MM | daily:mon,fri@HH:MM | daily:every@HH:MM | monthly:DAY@HH:MM | "
            "monthly:last@HH:MM | once:\"YYYY-MM-DD HH:MM\"");
    m_scheduleFromOption = command.add_option(
        "--schedule-from", m_scheduleFrom,
        "When the schedule starts counting, \"YYYY-MM-DD HH:MM\" (default: now)");
}

void JobOptions::apply(AppContext& ctx, clsBackup& job) const {
    if (m_use == Use::New) {
        job.sName = m_name.empty() ? NewJob(ctx.settings) : cleanJobName(m_name);
    } else if (given(m_nameOption)) {
        job.sName = cleanJobName(m_name);
    }

    applyDestination(job);

    if (takes(m_typeOption)) {
        const std::string type = text::lower(m_type);
        if (type != "full" && type != "incremental" && type != "incr") {
            throw UsageError{"type \"" + m_type + "\": expected full or incremental"};
        }
        job.bIncremental = type != "full";
    }

    if (takes(m_storageOption)) {
        const std::string storage = text::lower(m_storage);
        if (storage == "archive" || storage == "compressed") {
            job.archived = true;
            job.bZipped = storage == "compressed";
        } else if (storage == "copy") {
            job.archived = false;
            job.bZipped = false;
        } else {
            throw UsageError{"storage \"" + m_storage + "\": expected copy, archive or compressed"};
        }
    }
    if (m_noSplit) {
        job.splitSize = 0;
    } else if (m_use == Use::New ? !m_split.empty() : given(m_splitOption)) {
        auto split = parseSplitSize(m_split);
        if (!split) {
            throw UsageError{"split size \"" + m_split +
                             "\": expected 1 byte to 2047M (suffix K, M or G)"};
        }
        job.splitSize = *split;
    }

    if (takes(m_sourceOption)) {
        job.ResetFiles();
        for (const std::string& source : m_sources) {
            const std::string path = fs::absolutePath(source);
            auto facts = statFile(path);
            if (!facts ||
                (facts->kind != FileKind::Directory && facts->kind != FileKind::Regular)) {
                throw UsageError{"no such file or folder: " + path};
            }
            auto entry = std::make_unique<clsBackupFile>();
            entry->sPath = path;
            entry->bForD = facts->kind == FileKind::Directory ? kSourceFolder : kSourceFile;
            entry->dSize = facts->kind == FileKind::Directory ? 0 : facts->size;
            job.AddFile(std::move(entry));
        }
    }

    if (takes(m_includeOption)) {
        job.IncludeMask = m_include.empty() ? "*.*" : m_include;
    }
    if (takes(m_excludeOption)) {
        job.ExcludeMask = m_exclude;
    }
    if (m_noPassword) {
        job.password.clear();
        job.Protected = false;
    } else if (takes(m_passwordOption)) {
        job.password = passwordArg(m_password);
        // An empty line from a script must not quietly remove the protection.
        if (m_use == Use::Edit && job.password.empty()) {
            throw UsageError{"the new password is empty (--no-password removes the protection)"};
        }
        job.Protected = !job.password.empty();
    }

    applySchedule(ctx, job);
}

void JobOptions::applyDestination(clsBackup& job) const {
    const bool edit = m_use == Use::Edit;
    if (edit && given(m_ftpOption) && m_ftpHost.empty()) {
        throw UsageError{"--ftp: a host name is needed (--no-ftp for a local destination)"};
    }
    const bool ftp = edit ? !m_noFtp && (given(m_ftpOption) || job.destFTP) : !m_ftpHost.empty();
    if (ftp) {
        // A destination that becomes an FTP one takes every FTP option, with its default.
        const bool fresh = !job.destFTP || !job.objDestination;
        if (fresh || given(m_ftpPortOption)) {
            if (m_ftpPort < 1 || m_ftpPort > 65535) {
                throw UsageError{"the FTP port must be 1 to 65535"};
            }
        }
        auto dest = fresh ? std::make_shared<clsKestrel>() : job.objDestination;
        if (fresh || given(m_ftpOption)) {
            dest->hostname = m_ftpHost;
        }
        if (fresh || given(m_ftpPortOption)) {
            dest->port = m_ftpPort;
        }
        if (fresh || given(m_ftpUserOption)) {
            dest->username = m_ftpUser;
        }
        if (fresh || given(m_ftpPasswordOption)) {
            dest->password = passwordArg(m_ftpPassword);
        }
        if (fresh || m_ftpActive || m_ftpPassive) {
            dest->bPassiveMode = !m_ftpActive;
        }
        applyTls(*dest, fresh);
        job.objDestination = dest;
        job.destFTP = true;
        if (fresh || given(m_destOption)) {
            job.sDestinationDir = m_dest.empty() ? "/" : m_dest;
        }
        return;
    }
    if ((edit && (given(m_ftpPortOption) || given(m_ftpUserOption) || given(m_ftpPasswordOption) ||
                  m_ftpActive || m_ftpPassive)) ||
        given(m_ftpTlsOption) || given(m_ftpTlsPinOption)) {
        throw UsageError{"the FTP options are for a destination on an FTP server (--ftp HOST)"};
    }
    if (!edit || job.destFTP || given(m_destOption)) {
        if (m_dest.empty()) {
            throw UsageError{"a destination is needed: --dest FOLDER, or --ftp HOST"};
        }
        job.sDestinationDir = fs::absolutePath(m_dest);
    }
    job.destFTP = false;
    job.objDestination = nullptr;
}

void JobOptions::applyTls(clsKestrel& dest, bool fresh) const {
    if (fresh || given(m_ftpTlsOption)) {
        const std::string tls = text::lower(m_ftpTls);
        if (tls != "off" && tls != "required") {
            throw UsageError{"--ftp-tls \"" + m_ftpTls + "\": expected off or required"};
        }
        dest.bTls = tls == "required";
    }
    if (fresh || given(m_ftpTlsPinOption)) {
        if (m_ftpTlsPin.empty() || (m_use == Use::Edit && text::lower(m_ftpTlsPin) == "none")) {
            dest.sTlsPin.clear();
        } else if (auto pin = normalizedFingerprint(m_ftpTlsPin)) {
            dest.sTlsPin = *pin;
        } else {
            throw UsageError{"--ftp-tls-pin \"" + m_ftpTlsPin +
                             "\": expected a SHA-256 fingerprint, 64 hex digits (colons allowed)"};
        }
    }
    // Only a TLS session looks at a certificate: a pin without it would promise a check that
    // never happens. Asked only when TLS is set, so that other changes of a job stored so work.
    const bool tlsSet = fresh || given(m_ftpTlsOption) || given(m_ftpTlsPinOption);
    if (tlsSet && !dest.sTlsPin.empty() && !dest.bTls) {
        throw UsageError{
            "--ftp-tls-pin: the certificate is only checked with --ftp-tls required "
            "(--ftp-tls-pin none removes the pin)"};
    }
}

std::string clearTextWarning(const Messages& messages, const clsBackup& job) {
    if (!job.destFTP || !job.objDestination || job.objDestination->bTls ||
        net::hostIsLocal(job.objDestination->hostname)) {
        return "";
    }
    return messages.format("strMsgFtpClearText", {{"%s", job.objDestination->hostname}});
}

void JobOptions::applySchedule(AppContext& ctx, clsBackup& job) const {
    const bool edit = m_use == Use::Edit;
    const bool newSchedule = edit ? given(m_scheduleOption) : !m_schedule.empty();
    if (!newSchedule && !(edit && given(m_scheduleFromOption))) {
        return;
    }
    if (edit && newSchedule && text::lower(m_schedule) == "none") {
        job.Schedule = nullptr;
        return;
    }
    if (!newSchedule && !job.Schedule) {
        throw UsageError{"--schedule-from: the job has no schedule (give one with --schedule)"};
    }
    DateTime from = ctx.clock.now();
    from = from.addSeconds(-from.second());
    if (!m_scheduleFrom.empty()) {
        auto parsed = parseDateTimeText(m_scheduleFrom);
        if (!parsed) {
            throw UsageError{"--schedule-from: expected YYYY-MM-DD HH:MM"};
        }
        from = *parsed;
    }
    if (!newSchedule) {
        // A one-time schedule's start is its moment, which only --schedule changes.
        if (job.Schedule->Tip != kScheduleOnce) {
            job.Schedule->start = from;
        }
        return;
    }
    ScheduleTextError error = ScheduleTextError::None;
    job.Schedule = parseScheduleSpec(m_schedule, from, &error);
    if (!job.Schedule) {
        throw UsageError{"schedule \"" + m_schedule + "\": expected " + scheduleSyntax(error)};
    }
}

}  // namespace kestrel
