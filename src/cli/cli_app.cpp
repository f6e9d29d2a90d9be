#include "cli/cli_app.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "archive/catalogue.h"
#include "archive/volume_reader.h"
#include "cli/console_host.h"
#include "core/app_context.h"
#include "engine/backup_run.h"
#include "ftp/ftp_connection.h"
#include "jobs/job_store.h"
#include "platform/file_facts.h"
#include "platform/fs.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "restore/restore.h"

namespace kestrel {
namespace {

// A refusal of the user's input: reported on the error stream, exit code 2.
struct UsageError {
    std::string message;
};

std::optional<DateTime> parseDateTimeArg(std::string_view s) {
    // "YYYY-MM-DD HH:MM" or "YYYY-MM-DDTHH:MM"
    if (s.size() != 16 || s[4] != '-' || s[7] != '-' || (s[10] != ' ' && s[10] != 'T') ||
        s[13] != ':') {
        return std::nullopt;
    }
    auto num = [&](size_t pos, size_t len) { return text::parseInt(s.substr(pos, len)); };
    auto y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2);
    if (!y || !mo || !d || !h || !mi) {
        return std::nullopt;
    }
    return DateTime::fromParts(static_cast<int>(*y), static_cast<int>(*mo), static_cast<int>(*d),
                               static_cast<int>(*h), static_cast<int>(*mi));
}

// "HH:MM" as a time of day on the zero date.
std::optional<DateTime> parseTimeOfDay(std::string_view s) {
    if (s.size() != 5 || s[2] != ':') {
        return std::nullopt;
    }
    auto h = text::parseInt(s.substr(0, 2));
    auto m = text::parseInt(s.substr(3, 2));
    if (!h || !m || *h < 0 || *h > 23 || *m < 0 || *m > 59) {
        return std::nullopt;
    }
    return DateTime().addSeconds(*h * 3600 + *m * 60);
}

constexpr std::pair<const char*, std::uint8_t> kDays[] = {
    {"mon", kMonday}, {"tue", kTuesday},  {"wed", kWednesday}, {"thu", kThursday},
    {"fri", kFriday}, {"sat", kSaturday}, {"sun", kSunday}};

std::shared_ptr<clsSchedule> parseScheduleSpec(const std::string& spec, DateTime from) {
    const size_t colon = spec.find(':');
    if (colon == std::string::npos) {
        throw UsageError{"schedule \"" + spec + "\": expected KIND:VALUE"};
    }
    const std::string kind = text::lower(spec.substr(0, colon));
    const std::string value = spec.substr(colon + 1);
    auto schedule = std::make_shared<clsSchedule>();
    schedule->enabled = true;
    schedule->start = from;
    auto bad = [&](const char* expected) {
        return UsageError{"schedule \"" + spec + "\": expected " + expected};
    };
    auto splitAt = [&](const char* expected) {
        const size_t at = value.find('@');
        if (at == std::string::npos) {
            throw bad(expected);
        }
        auto time = parseTimeOfDay(value.substr(at + 1));
        if (!time) {
            throw bad(expected);
        }
        schedule->StartHour = *time;
        return value.substr(0, at);
    };
    if (kind == "hourly") {
        auto minute = text::parseInt(value);
        if (!minute || *minute < 0 || *minute > 59) {
            throw bad("hourly:MINUTE with a minute from 0 to 59");
        }
        schedule->Tip = kScheduleHourly;
        schedule->Data = static_cast<std::uint8_t>(*minute);
    } else if (kind == "daily") {
        const char* expected = "daily:DAYS@HH:MM with DAYS a list of mon,tue,...,sun or every";
        const std::string days = text::lower(splitAt(expected));
        std::uint8_t mask = 0;
        for (const std::string& day : text::split(days, ',')) {
            if (day == "every") {
                mask = 127;
                continue;
            }
            auto it = std::find_if(std::begin(kDays), std::end(kDays),
                                   [&](const auto& d) { return day == d.first; });
            if (it == std::end(kDays)) {
                throw bad(expected);
            }
            mask |= it->second;
        }
        schedule->Tip = kScheduleDaily;
        schedule->Data = mask;
    } else if (kind == "monthly") {
        const char* expected = "monthly:DAY@HH:MM with DAY from 1 to 31 or last";
        const std::string day = text::lower(splitAt(expected));
        if (day == "last") {
            schedule->Data = 31;
        } else {
            auto n = text::parseInt(day);
            if (!n || *n < 1 || *n > 31) {
                throw bad(expected);
            }
            schedule->Data = static_cast<std::uint8_t>(*n - 1);
        }
        schedule->Tip = kScheduleMonthly;
    } else if (kind == "once") {
        auto at = parseDateTimeArg(value);
        if (!at) {
            throw bad("once:YYYY-MM-DD HH:MM");
        }
        schedule->Tip = kScheduleOnce;
        schedule->start = *at;
    } else {
        throw bad("hourly:, daily:, monthly: or once:");
    }
    return schedule;
}

std::string describeSchedule(const clsSchedule* s) {
    if (s == nullptr) {
        return "none";
    }
    std::string out;
    switch (s->Tip) {
        case kScheduleHourly: {
            char minute[8];
            std::snprintf(minute, sizeof minute, "%02u", static_cast<unsigned>(s->Data));
            out = std::string("hourly at minute ") + minute;
            break;
        }
        case kScheduleDaily: {
            out = "daily on ";
            std::string days;
            for (const auto& [name, bit] : kDays) {
                if (s->Data & bit) {
                    days += (days.empty() ? "" : ",") + std::string(name);
                }
            }
            out += (days.empty() ? "no day" : days) + " at " + s->StartHour.format("HH:mm");
            break;
        }
        case kScheduleMonthly:
            out = s->Data >= 31 ? "monthly on the last day"
                                : "monthly on day " + std::to_string(s->Data + 1);
            out += " at " + s->StartHour.format("HH:mm");
            break;
        case kScheduleOnce:
            return std::string("once at ") + s->start.format("yyyy-MM-dd HH:mm") +
                   (s->enabled ? "" : " (disabled)");
        default:
            return "unknown kind " + std::to_string(s->Tip);
    }
    out += ", from " + s->start.format("yyyy-MM-dd HH:mm");
    if (!s->enabled) {
        out += " (disabled)";
    }
    return out;
}

const char* statusText(std::int32_t status) {
    switch (status) {
        case kStatusNeverRun:
            return "never run";
        case kStatusOk:
            return "OK";
        case kStatusFailed:
            return "failed";
        case kStatusAborted:
            return "aborted";
        default:
            return "unknown";
    }
}

std::string storageText(const AppContext& ctx, const clsBackup& job) {
    std::string out = !job.archived ? "Copy of files"
                      : job.bZipped ? ctx.msg("strMsgCompressed") + " archive"
                                    : "Archive";
    if (job.archived && job.splitSize >= 1) {
        out += ", volumes of " + std::to_string(job.splitSize) + " bytes";
    }
    return out;
}

std::string destinationText(const clsBackup& job) {
    if (job.destFTP && job.objDestination) {
        const clsKestrel& d = *job.objDestination;
        std::string dir = job.sDestinationDir;
        if (dir.empty() || dir.front() != '/') {
            dir = "/" + dir;
        }
        return "ftp://" + d.username + "@" + d.hostname + ":" + std::to_string(d.port) + dir;
    }
    return job.sDestinationDir;
}

std::string lastRunText(const AppContext& ctx, const clsBackup& job) {
    return job.lastOK.isZero() ? ctx.msg("strMsgNever") : job.lastOK.format("yyyy-MM-dd HH:mm");
}

void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        out << line << '\n';
    }
}

// A password option: "-" reads one line from standard input, so that it stays out of the
// process list.
std::string passwordArg(const std::string& value) {
    if (value != "-") {
        return value;
    }
    auto line = terminal::readSecretLine();
    if (!line) {
        throw UsageError{"no password on standard input"};
    }
    return *line;
}

struct NewOptions {
    std::string name;
    std::vector<std::string> sources;
    std::string dest;
    std::string ftpHost;
    int ftpPort = 21;
    std::string ftpUser = "anonymous";
    std::string ftpPassword;
    bool ftpActive = false;
    std::string type = "full";
    std::string storage = "compressed";
    std::string split;
    std::string include = "*.*";
    std::string exclude;
    std::string password;
    std::string schedule;
    std::string scheduleFrom;
};

std::int32_t parseSplitSize(const std::string& s) {
    std::string_view v = text::trimSpace(s);
    std::int64_t factor = 1;
    if (!v.empty()) {
        switch (text::toUpper(v.back())) {
            case 'K':
                factor = 1024;
                break;
            case 'M':
                factor = 1024 * 1024;
                break;
            case 'G':
                factor = 1024 * 1024 * 1024;
                break;
            default:
                break;
        }
        if (factor != 1) {
            v.remove_suffix(1);
        }
    }
    auto n = text::parseInt(v);
    if (!n || *n < 1 || *n > INT32_MAX / factor) {
        throw UsageError{"split size \"" + s + "\": expected 1 byte to 2047M (suffix K, M or G)"};
    }
    return static_cast<std::int32_t>(*n * factor);
}

int commandNew(AppContext& ctx, const NewOptions& o, std::ostream& out) {
    auto job = std::make_unique<clsBackup>();

    // Job names never hold "-": archive volume names use it as their separator.
    std::string name = o.name.empty() ? NewJob(ctx) : text::replaceAll(o.name, "-", "");
    std::string why;
    if (!isStorableJobName(name, &why)) {
        throw UsageError{"cannot use the name \"" + name + "\": " + why};
    }
    for (const auto& existing : ctx.jobs) {
        if (text::iequals(existing->sName, name)) {
            throw UsageError{ctx.msg("strMsgBackupNameExists")};
        }
    }
    job->sName = name;

    const bool ftp = !o.ftpHost.empty();
    if (ftp) {
        auto dest = std::make_shared<clsKestrel>();
        dest->hostname = o.ftpHost;
        if (o.ftpPort < 1 || o.ftpPort > 65535) {
            throw UsageError{"the FTP port must be 1 to 65535"};
        }
        dest->port = o.ftpPort;
        dest->username = o.ftpUser;
        dest->password = passwordArg(o.ftpPassword);
        dest->bPassiveMode = !o.ftpActive;
        job->objDestination = dest;
        job->destFTP = true;
        job->sDestinationDir = o.dest.empty() ? "/" : o.dest;
    } else {
        if (o.dest.empty()) {
            throw UsageError{"a destination is needed: --dest FOLDER, or --ftp HOST"};
        }
        const std::string dest = fs::absolutePath(o.dest);
        if (!fs::isDirectory(dest)) {
            throw UsageError{ctx.msg("strMsgDestDirNotExists") + " (" + dest + ")"};
        }
        job->sDestinationDir = dest;
    }

    const std::string type = text::lower(o.type);
    if (type != "full" && type != "incremental" && type != "incr") {
        throw UsageError{"type \"" + o.type + "\": expected full or incremental"};
    }
    job->bIncremental = type != "full";

    const std::string storage = text::lower(o.storage);
    if (storage == "copy") {
        if (ftp) {
            throw UsageError{ctx.msg("strMsgCantUseThisOptWithFTP")};
        }
    } else if (storage == "archive" || storage == "compressed") {
        job->archived = true;
        job->bZipped = storage == "compressed";
    } else {
        throw UsageError{"storage \"" + o.storage + "\": expected copy, archive or compressed"};
    }
    if (!o.split.empty()) {
        if (!job->archived) {
            throw UsageError{"--split needs --storage archive or compressed"};
        }
        job->splitSize = parseSplitSize(o.split);
    }

    for (const std::string& source : o.sources) {
        const std::string path = fs::absolutePath(source);
        auto facts = statFile(path);
        if (!facts || (facts->kind != FileKind::Directory && facts->kind != FileKind::Regular)) {
            throw UsageError{"no such file or folder: " + path};
        }
        for (const auto& entry : job->Files) {
            if (entry->sPath == path) {
                throw UsageError{ctx.msg("strMsgFileAlreadyAdded") + " (" + path + ")"};
            }
        }
        auto entry = std::make_unique<clsBackupFile>();
        entry->sPath = path;
        entry->bForD = facts->kind == FileKind::Directory ? kSourceFolder : kSourceFile;
        entry->dSize = facts->kind == FileKind::Directory ? 0 : facts->size;
        job->AddFile(std::move(entry));
    }
    if (job->Files.empty()) {
        throw UsageError{ctx.msg("strMsgNoSrcToBackup")};
    }

    job->IncludeMask = o.include.empty() ? "*.*" : o.include;
    job->ExcludeMask = o.exclude;
    job->password = passwordArg(o.password);
    job->Protected = !job->password.empty();

    if (!o.schedule.empty()) {
        DateTime from = ctx.clock.now();
        from = from.addSeconds(-from.second());
        if (!o.scheduleFrom.empty()) {
            auto parsed = parseDateTimeArg(o.scheduleFrom);
            if (!parsed) {
                throw UsageError{"--schedule-from: expected YYYY-MM-DD HH:MM"};
            }
            from = *parsed;
        }
        job->Schedule = parseScheduleSpec(o.schedule, from);
    }

    clsBackup& added = ctx.jobs.append(std::move(job));
    if (!SaveJobs(ctx)) {
        return kExitFailed;
    }
    out << "Created job \"" << added.sName << "\".\n";
    return kExitOk;
}

int commandList(const AppContext& ctx, std::ostream& out) {
    if (ctx.jobs.empty()) {
        out << "No jobs.\n";
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows = {
        {"NAME", "TYPE", "STORAGE", "DESTINATION", "LAST OK", "STATUS"}};
    for (const auto& job : ctx.jobs) {
        rows.push_back({job->sName, ctx.msg(job->bIncremental ? "strMsgIncremental" : "strMsgFull"),
                        storageText(ctx, *job), destinationText(*job), lastRunText(ctx, *job),
                        statusText(job->enumStatus)});
    }
    printTable(out, rows);
    return kExitOk;
}

int commandShow(const AppContext& ctx, const std::string& name, std::ostream& out) {
    const clsBackup* job = ctx.jobs.find(name);
    if (job == nullptr) {
        throw UsageError{"no job named \"" + name + "\""};
    }
    std::vector<std::vector<std::string>> rows = {
        {"Name:", job->sName},
        {"Type:", ctx.msg(job->bIncremental ? "strMsgIncremental" : "strMsgFull")},
        {"Storage:", storageText(ctx, *job)},
        {"Protected:", job->Protected ? "yes" : "no"},
        {"Destination:", destinationText(*job)}};
    if (job->destFTP && job->objDestination) {
        rows.push_back({"FTP mode:", job->objDestination->bPassiveMode ? "passive" : "active"});
    }
    rows.push_back({"Include mask:", job->IncludeMask});
    rows.push_back({"Exclude mask:", job->ExcludeMask});
    rows.push_back({"Schedule:", describeSchedule(job->Schedule.get())});
    rows.push_back({"Last OK:", lastRunText(ctx, *job)});
    rows.push_back({"Status:", statusText(job->enumStatus)});
    rows.push_back({"Sources:", std::to_string(job->Files.size())});
    printTable(out, rows);
    for (const auto& entry : job->Files) {
        if (entry->bForD == kSourceFolder) {
            out << "  folder  " << entry->sPath << '\n';
        } else {
            out << "  file    " << entry->sPath << " (" << entry->dSize << " bytes)\n";
        }
    }
    return kExitOk;
}

int commandDelete(AppContext& ctx, const std::string& name, const std::string& passwordOption,
                  std::ostream& out) {
    const std::ptrdiff_t index = ctx.jobs.indexOf(name);
    if (index < 0) {
        throw UsageError{"no job named \"" + name + "\""};
    }
    const clsBackup& job = ctx.jobs.at(static_cast<size_t>(index));
    if (job.Protected && !job.password.empty()) {
        ctx.WriteLog(ctx.messages.format("strMsgRequestPWDel", {{"%d", name}}));
        if (passwordOption.empty() || passwordArg(passwordOption) != job.password) {
            ctx.WriteLog(ctx.messages.format("strMsgWrongPWDel", {{"%d", name}}));
            throw UsageError{ctx.messages.format("strMsgWrongPWDel", {{"%d", name}})};
        }
        ctx.WriteLog(ctx.messages.format("strMsgPasswordOkDel", {{"%d", name}}));
    }
    ctx.jobs.removeAt(static_cast<size_t>(index));
    if (!SaveJobs(ctx)) {
        return kExitFailed;
    }
    out << "Deleted job \"" << name << "\".\n";
    return kExitOk;
}

std::string thousands(std::int64_t n) {
    return text::groupThousands(std::to_string(n));
}

std::optional<Catalogue> readCatalogueOrSay(const std::string& path, std::ostream& err) {
    std::string error;
    auto catalogue = ReadCatalogue(path, &error);
    if (!catalogue) {
        err << "kestrel-cli: " << error << '\n';
        return std::nullopt;
    }
    for (size_t line : catalogue->skippedLines) {
        err << "kestrel-cli: " << path << ": line " << line << " is damaged and was skipped\n";
    }
    return catalogue;
}

int commandCatalogue(const std::string& path, std::ostream& out, std::ostream& err) {
    auto catalogue = readCatalogueOrSay(path, err);
    if (!catalogue) {
        return kExitFailed;
    }
    struct Session {
        DateTime stamp;
        std::vector<const clsRestoreFileData*> files;
        std::int64_t bytes = 0;
        std::vector<std::string> volumes;
    };
    std::vector<Session> sessions;
    for (const clsRestoreFileData& rec : catalogue->records) {
        auto it = std::find_if(sessions.begin(), sessions.end(),
                               [&](const Session& s) { return s.stamp == rec.dSession; });
        if (it == sessions.end()) {
            sessions.push_back(Session{rec.dSession, {}, 0, {}});
            it = sessions.end() - 1;
        }
        it->files.push_back(&rec);
        it->bytes += rec.size;
        for (const std::string& v : {rec.arcStart, rec.arcEnd}) {
            if (!v.empty() &&
                std::find(it->volumes.begin(), it->volumes.end(), v) == it->volumes.end()) {
                it->volumes.push_back(v);
            }
        }
    }
    out << path << ": " << sessions.size() << " session(s), " << catalogue->records.size()
        << " file(s)\n";
    for (const Session& s : sessions) {
        std::string volumes;
        for (const std::string& v : s.volumes) {
            volumes += (volumes.empty() ? "" : ", ") + v;
        }
        out << "\nSession " << s.stamp.format("yyyy-MM-dd HH:mm:ss") << ": " << s.files.size()
            << " file(s), " << thousands(s.bytes) << " bytes, volumes " << volumes << '\n';
        std::vector<std::vector<std::string>> rows;
        for (const clsRestoreFileData* f : s.files) {
            rows.push_back({"  " + thousands(f->size),
                            f->arcStart == f->arcEnd ? f->arcStart : f->arcStart + ".." + f->arcEnd,
                            f->fname});
        }
        printTable(out, rows);
    }
    return catalogue->skippedLines.empty() ? kExitOk : kExitFailed;
}

int commandVerify(AppContext& ctx, const std::string& path, std::optional<bool> compressed,
                  std::ostream& out, std::ostream& err) {
    auto catalogue = readCatalogueOrSay(path, err);
    if (!catalogue) {
        return kExitFailed;
    }
    std::string folder = fs::parentOf(fs::absolutePath(path));
    FolderVolumes volumes(folder);
    VolumeReader reader(&ctx, volumes, compressed);
    size_t bad = 0;
    for (const clsRestoreFileData& rec : catalogue->records) {
        const ExtractResult r = reader.extract(rec, [](std::string_view) { return true; });
        if (r.status == ExtractStatus::Aborted) {
            err << "kestrel-cli: verification stopped\n";
            return kExitAborted;
        }
        if (r.status != ExtractStatus::Ok) {
            ++bad;
            out << "FAIL " << rec.dSession.format("yyyyMMddHHmmss") << ' ' << rec.fname << ": "
                << extractStatusText(r.status) << " (" << r.detail << ")\n";
        }
    }
    out << "Verified " << catalogue->records.size()
        << " file(s): " << catalogue->records.size() - bad << " OK, " << bad << " failed";
    if (!catalogue->skippedLines.empty()) {
        out << ", " << catalogue->skippedLines.size() << " damaged catalogue line(s)";
    }
    out << ".\n";
    return bad == 0 && catalogue->skippedLines.empty() ? kExitOk : kExitFailed;
}

// Loads a job's catalogue for the restore commands; exit code 2 for an unknown job.
std::unique_ptr<FtpClient> makeFtpClient(AppContext& ctx) {
    return std::make_unique<clsFTPConnection>(ctx);
}

// A logged-in session with the job's FTP server; a usage error when it cannot be had.
std::unique_ptr<clsFTPConnection> connectToJobServer(AppContext& ctx, const clsBackup& job) {
    if (!job.destFTP || !job.objDestination) {
        throw UsageError{"job \"" + job.sName + "\" has no FTP destination"};
    }
    auto session = std::make_unique<clsFTPConnection>(ctx);
    const clsKestrel& d = *job.objDestination;
    session->SetupConnection(d.hostname, d.port, d.username, d.password, d.bPassiveMode);
    if (!session->EstablishConnection()) {
        throw UsageError{ctx.msg("strMsgCantConnectToFTP")};
    }
    return session;
}

const clsBackup& jobOrFail(AppContext& ctx, const std::string& name, bool prepareTemp) {
    if (!LoadJobs(ctx, prepareTemp)) {
        throw UsageError{ctx.msg("strMsgSystemVarsError")};
    }
    const clsBackup* job = ctx.jobs.find(name);
    if (job == nullptr) {
        throw UsageError{ctx.messages.format("strMsgJobNotFound", {{"%d", name}})};
    }
    return *job;
}

int commandFtpLs(AppContext& ctx, const std::string& name, const std::string& path,
                 std::ostream& out) {
    const clsBackup& job = jobOrFail(ctx, name, false);
    auto session = connectToJobServer(ctx, job);
    const std::string folder = path.empty() ? job.sDestinationDir : path;
    if (!folder.empty() && !session->ChangeCurrentDirectory(folder)) {
        throw UsageError{ctx.messages.format("strMsgChangeDirFail", {{"%d", folder}})};
    }
    auto list = session->GetFileList();
    if (!list) {
        session->Disconnect();
        throw UsageError{ctx.msg("strMsgCantGetDirList")};
    }
    std::vector<std::vector<std::string>> rows;
    for (const clsFTPFile& f : *list) {
        if (f.strName.empty() || f.strName == "." || f.strName == "..") {
            continue;
        }
        rows.push_back({f.bDir ? "dir" : "file", f.bDir ? "" : thousands(f.dSize), f.strDate,
                        f.strName + (f.bDir ? "/" : "")});
    }
    out << session->GetRootDir() << ":\n";
    printTable(out, rows);
    session->Disconnect();
    return kExitOk;
}

int commandFtpMkdir(AppContext& ctx, const std::string& name, std::string path, std::ostream& out) {
    const clsBackup& job = jobOrFail(ctx, name, false);
    auto session = connectToJobServer(ctx, job);
    const bool made = session->CreateFTPDirectory(path);
    session->Disconnect();
    if (!made) {
        throw UsageError{ctx.msg("strMsgCantCreateDirectory") + " (" + path + ")"};
    }
    out << "Created " << path << ".\n";
    return kExitOk;
}

RestoreState loadForRestore(AppContext& ctx, const std::string& name) {
    const clsBackup& job = jobOrFail(ctx, name, true);
    RestoreState state;
    if (job.destFTP) {
        state.ftp = connectToJobServer(ctx, job);
    }
    if (!LoadCatalogue(ctx, name, state)) {
        throw UsageError{ctx.msg("strMsgCantCreateRestList")};
    }
    return state;
}

std::optional<DateTime> sessionArg(const std::string& stamp) {
    if (stamp.empty()) {
        return std::nullopt;
    }
    auto parsed = ParseSessionStamp(stamp);
    if (!parsed || parsed->format("yyyyMMddHHmmss") != stamp) {
        throw UsageError{"--session: expected a stamp YYYYMMDDhhmmss as `sessions` lists it"};
    }
    return parsed;
}

DateTime newestSession(const RestoreState& state) {
    DateTime newest = state.records.front().dSession;
    for (const clsRestoreFileData& r : state.records) {
        newest = std::max(newest, r.dSession);
    }
    return newest;
}

int commandSessions(AppContext& ctx, const std::string& name, std::ostream& out) {
    const RestoreState state = loadForRestore(ctx, name);
    std::vector<std::vector<std::string>> rows = {{"SESSION", "DATE", "FILES", "BYTES"}};
    for (int root : state.tree.sessions()) {
        const std::string key = state.tree.node(root).key;
        std::int64_t files = 0;
        std::int64_t bytes = 0;
        for (const clsRestoreFileData& r : state.records) {
            if (RestoreTree::sessionKey(r.dSession) == key) {
                ++files;
                bytes += r.size;
            }
        }
        rows.push_back(
            {key.substr(4), state.tree.node(root).text, std::to_string(files), thousands(bytes)});
    }
    printTable(out, rows);
    return kExitOk;
}

int commandLs(AppContext& ctx, const std::string& name, const std::string& stamp, std::string path,
              std::ostream& out) {
    const RestoreState state = loadForRestore(ctx, name);
    const DateTime session = sessionArg(stamp).value_or(newestSession(state));
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const int node = state.tree.findPath(session, path);
    if (node < 0) {
        throw UsageError{"\"" + path + "\" is not in session " + session.format("yyyyMMddHHmmss")};
    }
    std::vector<std::vector<std::string>> rows;
    const auto& n = state.tree.node(node);
    const std::vector<int> entries = n.children.empty() ? std::vector<int>{node} : n.children;
    for (int child : entries) {
        const RestoreNode& c = state.tree.node(child);
        if (c.record >= 0 && c.children.empty()) {
            const clsRestoreFileData& r = state.records[static_cast<size_t>(c.record)];
            rows.push_back({"file", thousands(r.size), c.text,
                            r.arcStart == r.arcEnd ? r.arcStart : r.arcStart + ".." + r.arcEnd});
        } else {
            rows.push_back({"dir", "", c.text + "/", ""});
        }
    }
    out << "Session " << session.format("yyyyMMddHHmmss") << ", " << path << ":\n";
    printTable(out, rows);
    return kExitOk;
}

int commandRestore(AppContext& ctx, const std::string& name, const std::string& stamp,
                   const std::string& to, bool overwrite, const std::vector<std::string>& paths) {
    RestoreState state = loadForRestore(ctx, name);
    const auto session = sessionArg(stamp);
    // For each file below the paths: the record of the chosen session, or of the newest
    // session that holds it.
    std::unordered_map<std::string, size_t> chosen;
    for (size_t i = 0; i < state.records.size(); ++i) {
        const clsRestoreFileData& r = state.records[i];
        if (session && r.dSession != *session) {
            continue;
        }
        const bool wanted = std::any_of(paths.begin(), paths.end(), [&](std::string p) {
            while (p.size() > 1 && p.back() == '/') {
                p.pop_back();
            }
            return p == "/" || r.fname == p || text::startsWith(r.fname, p + "/");
        });
        if (!wanted) {
            continue;
        }
        auto [it, added] = chosen.emplace(r.fname, i);
        if (!added && state.records[it->second].dSession < r.dSession) {
            it->second = i;
        }
    }
    if (chosen.empty()) {
        throw UsageError{"no file of the catalogue matches the given path(s)"};
    }
    for (const auto& [fname, index] : chosen) {
        const int node = state.tree.findPath(state.records[index].dSession, fname);
        if (node >= 0) {
            state.tree.setChecked(node, true);
        }
    }
    RestoreOptions options;
    options.toOriginal = to.empty();
    options.folder = to.empty() ? "" : fs::absolutePath(to);
    options.overwrite = overwrite;
    terminal::setInterruptFlag(&ctx.flags.bAbortBackup);
    const RestoreSummary summary = RestoreSelectedFiles(ctx, state, options);
    if (summary.aborted) {
        return kExitAborted;
    }
    return summary.failed == 0 && summary.skipped == 0 ? kExitOk : kExitFailed;
}

int commandRun(AppContext& ctx, const std::string& name) {
    // A run owns the temporary folder: it starts empty.
    if (!LoadJobs(ctx, true)) {
        throw UsageError{ctx.msg("strMsgSystemVarsError")};
    }
    if (ctx.jobs.find(name) == nullptr) {
        throw UsageError{ctx.messages.format("strMsgJobNotFound", {{"%d", name}})};
    }
    terminal::setInterruptFlag(&ctx.flags.bAbortBackup);
    RunOptions options;
    options.ftp = makeFtpClient;
    const RunSummary summary = RunBackup(ctx, name, options);
    if (summary.status == kStatusAborted) {
        return kExitAborted;
    }
    return summary.status == kStatusOk && summary.notStored == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, Clock& clock) {
    CLI::App app{"kestrel-cli: run and manage Kestrel backup jobs without the desktop window.",
                 "kestrel-cli"};
    app.require_subcommand(1);
    app.fallthrough();
    std::string home;
    app.add_option("--home", home,
                   "Program folder (job store, settings, logs, temp). Default: $KESTREL_HOME, "
                   "else ${XDG_DATA_HOME:-~/.local/share}/kestrel");

    auto* list =
        app.add_subcommand("list", "List the jobs with type, destination, last run, status");

    std::string jobName;
    auto* show = app.add_subcommand("show", "Show every field of a job");
    show->add_option("job", jobName, "Job name")->required();

    NewOptions o;
    auto* create = app.add_subcommand("new", "Create a job");
    create->add_option("--name", o.name,
                       "Job name (\"-\" is removed); default: the next \"New backup N\"");
    create->add_option("--source", o.sources, "File or folder to back up (repeatable)")->required();
    create->add_option("--dest", o.dest, "Destination folder (on the FTP server with --ftp)");
    create->add_option("--ftp", o.ftpHost, "FTP server: the destination is on this host");
    create->add_option("--ftp-port", o.ftpPort, "FTP control port")->capture_default_str();
    create->add_option("--ftp-user", o.ftpUser, "FTP user name")->capture_default_str();
    create->add_option("--ftp-password", o.ftpPassword,
                       "FTP password; \"-\" reads it from standard input");
    create->add_flag("--ftp-active", o.ftpActive, "Use active (PORT) data connections");
    create->add_option("--type", o.type, "full or incremental")->capture_default_str();
    create->add_option("--storage", o.storage, "copy, archive or compressed")
        ->capture_default_str();
    create->add_option("--split", o.split, "Split the archive into volumes of SIZE (K, M, G)");
    create->add_option("--include", o.include, "Include mask, e.g. \"*.doc;*.txt\"")
        ->capture_default_str();
    create->add_option("--exclude", o.exclude, "Exclude mask, e.g. \"*.tmp\"");
    create->add_option("--password", o.password,
                       "Protect the job and encrypt its archives; \"-\" reads it from standard "
                       "input");
    create->add_option("--schedule", o.schedule,
                       "hourly:MM | daily:mon,fri@HH:MM | daily:every@HH:MM | monthly:DAY@HH:MM "
                       "| monthly:last@HH:MM | once:\"YYYY-MM-DD HH:MM\"");
    create->add_option("--schedule-from", o.scheduleFrom,
                       "When the schedule starts counting, \"YYYY-MM-DD HH:MM\" (default: now)");

    std::string deletePassword;
    auto* remove = app.add_subcommand("delete", "Delete a job (its backups stay where they are)");
    remove->add_option("job", jobName, "Job name")->required();
    remove->add_option("--password", deletePassword,
                       "The job's password, when it is protected; \"-\" reads it from standard "
                       "input");

    std::string runName;
    auto* runJob = app.add_subcommand(
        "run",
        "Run a job now: progress, log lines and summary on the error stream. Exit code 0 "
        "when every file was stored, 1 when not, 3 when stopped (Ctrl-C)");
    runJob->add_option("job", runName, "Job name")->required();

    std::string sessionStamp;
    auto* sessions =
        app.add_subcommand("sessions", "List the backup sessions a job's catalogue holds");
    sessions->add_option("job", runName, "Job name")->required();

    std::string lsPath = "/";
    auto* ls = app.add_subcommand("ls", "List a folder of a backup session (default: the newest)");
    ls->add_option("job", runName, "Job name")->required();
    ls->add_option("path", lsPath, "Folder or file as it was backed up")->capture_default_str();
    ls->add_option("--session", sessionStamp, "Session stamp YYYYMMDDhhmmss (see `sessions`)");

    std::string restoreTo;
    bool overwrite = false;
    std::vector<std::string> restorePaths;
    auto* restore = app.add_subcommand(
        "restore", "Restore files or folders (everything below them) of a job's backups");
    restore->add_option("job", runName, "Job name")->required();
    restore->add_option("path", restorePaths, "Files or folders as they were backed up")
        ->required();
    restore->add_option("--session", sessionStamp,
                        "Session stamp YYYYMMDDhhmmss; default: per file the newest session "
                        "that holds it");
    restore->add_option("--to", restoreTo,
                        "Restore below this folder (rebuilding the original folders) instead of "
                        "to the original paths");
    restore->add_flag("--overwrite", overwrite, "Replace existing files without asking");

    std::string ftpPath;
    auto* ftpLs = app.add_subcommand("ftp-ls", "List a folder on a job's FTP server");
    ftpLs->add_option("job", runName, "Job name")->required();
    ftpLs->add_option("path", ftpPath, "Remote folder (default: the job's destination)");
    auto* ftpMkdir = app.add_subcommand("ftp-mkdir", "Create a folder on a job's FTP server");
    ftpMkdir->add_option("job", runName, "Job name")->required();
    ftpMkdir->add_option("path", ftpPath, "Remote folder to create")->required();

    std::string cataloguePath;
    auto* listCatalogue =
        app.add_subcommand("catalogue", "List the sessions and files of an archive catalogue");
    listCatalogue->add_option("file", cataloguePath, "Catalogue file (JOB.fs)")->required();

    bool forceCompressed = false;
    bool forcePlain = false;
    auto* verify = app.add_subcommand(
        "verify", "Read every file of a catalogue back from the volumes beside it and check it");
    verify->add_option("file", cataloguePath, "Catalogue file (JOB.fs)")->required();
    auto* compressedFlag =
        verify->add_flag("--compressed", forceCompressed, "The volumes are gzip-compressed");
    verify->add_flag("--plain", forcePlain, "The volumes are not compressed")
        ->excludes(compressedFlag);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        const auto extras = app.remaining();
        if (app.get_subcommands().empty() && !extras.empty()) {
            err << "kestrel-cli: unknown command \"" << extras.front() << "\"";
        } else {
            err << "kestrel-cli: " << e.what();
        }
        err << "\nRun with --help for more information.\n";
        return kExitBadUsage;
    }

    ConsoleHost host(err, terminal::isTerminal(terminal::Stream::Err));
    AppContext ctx(
        ProgramFolder::resolve(home.empty() ? std::nullopt : std::optional<std::string>(home)),
        clock, host);
    std::string error;
    if (!ctx.initialise(&error)) {
        err << "kestrel-cli: " << error << '\n';
        return kExitFailed;
    }
    try {
        if (*listCatalogue) {
            return commandCatalogue(cataloguePath, out, err);
        }
        if (*verify) {
            terminal::setInterruptFlag(&ctx.flags.bAbortBackup);
            ctx.flags.bBackupRunning = true;
            std::optional<bool> compressed;
            if (forceCompressed || forcePlain) {
                compressed = forceCompressed;
            }
            return commandVerify(ctx, cataloguePath, compressed, out, err);
        }
        if (*runJob) {
            return commandRun(ctx, runName);
        }
        if (*ftpLs) {
            return commandFtpLs(ctx, runName, ftpPath, out);
        }
        if (*ftpMkdir) {
            return commandFtpMkdir(ctx, runName, ftpPath, out);
        }
        if (*sessions) {
            return commandSessions(ctx, runName, out);
        }
        if (*ls) {
            return commandLs(ctx, runName, sessionStamp, lsPath, out);
        }
        if (*restore) {
            return commandRestore(ctx, runName, sessionStamp, restoreTo, overwrite, restorePaths);
        }
        if (!LoadJobs(ctx, false)) {
            err << "kestrel-cli: " << ctx.msg("strMsgSystemVarsError") << '\n';
            return kExitFailed;
        }
        if (*list) {
            return commandList(ctx, out);
        }
        if (*show) {
            return commandShow(ctx, jobName, out);
        }
        if (*create) {
            return commandNew(ctx, o, out);
        }
        if (*remove) {
            return commandDelete(ctx, jobName, deletePassword, out);
        }
    } catch (const UsageError& e) {
        err << "kestrel-cli: " << e.message << '\n';
        return kExitBadUsage;
    }
    return kExitBadUsage;
}

}  // namespace kestrel
