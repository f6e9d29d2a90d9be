#include "cli/command.h"
#include "core/app_context.h"
#include "jobs/job_rules.h"
#include "jobs/job_store.h"
#include "jobs/schedule_text.h"
#include "platform/file_facts.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "runner/job_runner.h"

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

class NewCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* create = app.add_subcommand("new", "Create a job");
        create->add_option("--name", m_name,
                           "Job name (\"-\" is removed); default: the next \"New backup N\"");
        create->add_option("--source", m_sources, "File or folder to back up (repeatable)")
            ->required();
        create->add_option("--dest", m_dest, "Destination folder (on the FTP server with --ftp)");
        create->add_option("--ftp", m_ftpHost, "FTP server: the destination is on this host");
        create->add_option("--ftp-port", m_ftpPort, "FTP control port")->capture_default_str();
        create->add_option("--ftp-user", m_ftpUser, "FTP user name")->capture_default_str();
        create->add_option("--ftp-password", m_ftpPassword,
                           "FTP password; \"-\" reads it from standard input");
        create->add_flag("--ftp-active", m_ftpActive, "Use active (PORT) data connections");
        create->add_option("--type", m_type, "full or incremental")->capture_default_str();
        create->add_option("--storage", m_storage, "copy, archive or compressed")
            ->capture_default_str();
        create->add_option("--split", m_split, "Split the archive into volumes of SIZE (K, M, G)");
        create->add_option("--include", m_include, "Include mask, e.g. \"*.doc;*.txt\"")
            ->capture_default_str();
        create->add_option("--exclude", m_exclude, "Exclude mask, e.g. \"*.tmp\"");
        create->add_option("--password", m_password,
                           "Protect the job and encrypt its archives; \"-\" reads it from "
                           "standard input");
        create->add_option("--schedule", m_schedule,
                           "hourly:MM | daily:mon,fri@HH:MM | daily:every@HH:MM | "
                           "monthly:DAY@HH:MM | monthly:last@HH:MM | once:\"YYYY-MM-DD HH:MM\"");
        create->add_option("--schedule-from", m_scheduleFrom,
                           "When the schedule starts counting, \"YYYY-MM-DD HH:MM\" (default: "
                           "now)");
        return create;
    }

    int run(CliEnv& env) override {
        AppContext& ctx = env.ctx;
        auto job = std::make_unique<clsBackup>();
        job->sName = m_name.empty() ? NewJob(ctx.settings) : cleanJobName(m_name);

        if (!m_ftpHost.empty()) {
            if (m_ftpPort < 1 || m_ftpPort > 65535) {
                throw UsageError{"the FTP port must be 1 to 65535"};
            }
            auto dest = std::make_shared<clsKestrel>();
            dest->hostname = m_ftpHost;
            dest->port = m_ftpPort;
            dest->username = m_ftpUser;
            dest->password = passwordArg(m_ftpPassword);
            dest->bPassiveMode = !m_ftpActive;
            job->objDestination = dest;
            job->destFTP = true;
            job->sDestinationDir = m_dest.empty() ? "/" : m_dest;
        } else {
            if (m_dest.empty()) {
                throw UsageError{"a destination is needed: --dest FOLDER, or --ftp HOST"};
            }
            job->sDestinationDir = fs::absolutePath(m_dest);
        }

        const std::string type = text::lower(m_type);
        if (type != "full" && type != "incremental" && type != "incr") {
            throw UsageError{"type \"" + m_type + "\": expected full or incremental"};
        }
        job->bIncremental = type != "full";

        const std::string storage = text::lower(m_storage);
        if (storage == "archive" || storage == "compressed") {
            job->archived = true;
            job->bZipped = storage == "compressed";
        } else if (storage != "copy") {
            throw UsageError{"storage \"" + m_storage + "\": expected copy, archive or compressed"};
        }
        if (!m_split.empty()) {
            auto split = parseSplitSize(m_split);
            if (!split) {
                throw UsageError{"split size \"" + m_split +
                                 "\": expected 1 byte to 2047M (suffix K, M or G)"};
            }
            job->splitSize = *split;
        }

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
            job->AddFile(std::move(entry));
        }

        job->IncludeMask = m_include.empty() ? "*.*" : m_include;
        job->ExcludeMask = m_exclude;
        job->password = passwordArg(m_password);
        job->Protected = !job->password.empty();

        if (!m_schedule.empty()) {
            DateTime from = ctx.clock.now();
            from = from.addSeconds(-from.second());
            if (!m_scheduleFrom.empty()) {
                auto parsed = parseDateTimeText(m_scheduleFrom);
                if (!parsed) {
                    throw UsageError{"--schedule-from: expected YYYY-MM-DD HH:MM"};
                }
                from = *parsed;
            }
            ScheduleTextError error = ScheduleTextError::None;
            job->Schedule = parseScheduleSpec(m_schedule, from, &error);
            if (!job->Schedule) {
                throw UsageError{"schedule \"" + m_schedule + "\": expected " +
                                 scheduleSyntax(error)};
            }
        }

        const std::string name = job->sName;
        JobProblem problem;
        const RunnerResult r = env.runner.addJob(std::move(job), &problem);
        switch (r) {
            case RunnerResult::Done:
                env.out << "Created job \"" << name << "\".\n";
                return kExitOk;
            case RunnerResult::Invalid:
            case RunnerResult::NameExists:
                throw UsageError{env.runner.refusalText(r, name, problem)};
            default:
                env.err << "kestrel-cli: " << env.runner.refusalText(r, name, problem) << '\n';
                return kExitFailed;
        }
    }

private:
    std::string m_name;
    std::vector<std::string> m_sources;
    std::string m_dest;
    std::string m_ftpHost;
    int m_ftpPort = 21;
    std::string m_ftpUser = "anonymous";
    std::string m_ftpPassword;
    bool m_ftpActive = false;
    std::string m_type = "full";
    std::string m_storage = "compressed";
    std::string m_split;
    std::string m_include = "*.*";
    std::string m_exclude;
    std::string m_password;
    std::string m_schedule;
    std::string m_scheduleFrom;
};

}  // namespace

std::unique_ptr<Command> makeNewCommand() {
    return std::make_unique<NewCommand>();
}

}  // namespace kestrel
