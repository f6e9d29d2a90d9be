#include "jobs/job_store.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "core/run_control.h"
#include "core/settings.h"
#include "jobs/scramble.h"
#include "platform/file_lock.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kJobListSection = "Backups";
constexpr unsigned kPrivateMode = 0600;
constexpr std::string_view kStampFormat = "yyyyMMddHHmm";

std::string fourDigits(size_t n) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04zu", n);
    return buf;
}

// Digits at 1-based positions [from, from + count) of s, or nothing when any is not a digit.
std::optional<int> digitsAt(std::string_view s, size_t from, size_t count) {
    if (from == 0 || s.size() < from - 1 + count) {
        return std::nullopt;
    }
    int value = 0;
    for (size_t i = from - 1; i < from - 1 + count; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (s[i] - '0');
    }
    return value;
}

// "yyyyMMddHHmm" at 1-based position from.
std::optional<DateTime> stampAt(std::string_view s, size_t from) {
    auto y = digitsAt(s, from, 4);
    auto mo = digitsAt(s, from + 4, 2);
    auto d = digitsAt(s, from + 6, 2);
    auto h = digitsAt(s, from + 8, 2);
    auto mi = digitsAt(s, from + 10, 2);
    if (!y || !mo || !d || !h || !mi) {
        return std::nullopt;
    }
    return DateTime::fromParts(*y, *mo, *d, *h, *mi, 0);
}

// A size as old and new stores write it: a plain decimal number, possibly with a fraction.
std::optional<std::int64_t> parseSize(std::string_view s) {
    s = text::trimSpace(s);
    if (auto whole = text::parseInt(s)) {
        return *whole;
    }
    if (s.empty() || s.find_first_not_of("0123456789.eE+-") != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string copy(s);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !(value >= 0) || value > 9.2e18) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

bool hasControlCharacters(std::string_view s) {
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) {
            return true;
        }
    }
    return false;
}

std::string keyOfLine(std::string_view line) {
    const size_t eq = line.find('=');
    return std::string(
        text::trimSpace(line.substr(0, eq == std::string_view::npos ? line.size() : eq)));
}

void readJobSection(const std::vector<std::string>& lines, clsBackup& job,
                    std::vector<StoreProblem>& problems) {
    auto problem = [&](std::string what) { problems.push_back({job.sName, std::move(what)}); };
    for (const std::string& line : lines) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            problem("line without \"=\"");
            continue;
        }
        if (line.find('\0') != std::string::npos) {
            problem(keyOfLine(line) + " (binary data)");
            continue;
        }
        const std::string key = text::upper(text::trimBlanks(std::string_view(line).substr(0, 3)));
        const std::string value = line.substr(eq + 1);
        auto needFtp = [&]() {
            if (!job.objDestination) {
                problem(keyOfLine(line) + " before Storage=FTP");
                return false;
            }
            return true;
        };

        if (key == "PRO") {
            job.Protected = !value.empty();
            job.password.clear();
            job.passwordUnreadable = false;
            job.storedProtection.clear();
            if (job.Protected) {
                // A protection that was asked for is never dropped: a value that gives no
                // password locks the job, and is kept to be written back as it was.
                auto codes = parseCodeList(value);
                if (codes && !codes->empty()) {
                    job.password = UnscrambleText(*codes);
                } else {
                    job.passwordUnreadable = true;
                    job.storedProtection = value;
                }
            }
        } else if (key == "FIL") {
            auto entry = std::make_unique<clsBackupFile>();
            entry->bForD = kSourceFile;
            entry->sPath = value;
            // Split at the last comma: sizes never hold one, paths may.
            if (const size_t comma = value.rfind(','); comma != std::string::npos) {
                if (auto size = parseSize(std::string_view(value).substr(comma + 1))) {
                    entry->sPath = value.substr(0, comma);
                    entry->dSize = *size;
                }
            }
            job.AddFile(std::move(entry));
        } else if (key == "DIR") {
            auto entry = std::make_unique<clsBackupFile>();
            entry->bForD = kSourceFolder;
            entry->sPath = value;
            job.AddFile(std::move(entry));
        } else if (key == "DES") {
            job.sDestinationDir = value;
        } else if (key == "TYP") {
            job.bIncremental = value != "FULL";
        } else if (key == "COM") {
            job.bZipped = value != "NOT";
        } else if (key == "STO") {
            job.destFTP = text::endsWith(line, "FTP");
            job.objDestination = job.destFTP ? std::make_shared<clsKestrel>() : nullptr;
        } else if (key == "HOS") {
            if (needFtp()) {
                job.objDestination->hostname = value;
            }
        } else if (key == "POR") {
            if (needFtp()) {
                auto port = text::parseInt(value);
                if (port && *port >= 0 && *port <= 65535) {
                    job.objDestination->port = static_cast<std::int32_t>(*port);
                } else {
                    problem(keyOfLine(line));
                }
            }
        } else if (key == "USE") {
            if (needFtp()) {
                job.objDestination->username = value;
            }
        } else if (key == "PAS") {
            if (needFtp()) {
                if (auto codes = parseCodeList(value)) {
                    job.objDestination->password = UnscrambleText(*codes);
                } else {
                    problem(keyOfLine(line));
                }
            }
        } else if (key == "PAV") {
            if (needFtp()) {
                job.objDestination->bPassiveMode = text::endsWith(line, "PASV");
            }
        } else if (key == "IMS") {
            job.IncludeMask = value;
        } else if (key == "EMS") {
            job.ExcludeMask = value;
        } else if (key == "STA") {
            auto status = text::parseInt(value);
            if (status && *status >= INT32_MIN && *status <= INT32_MAX) {
                job.enumStatus = static_cast<std::int32_t>(*status);
            } else {
                problem(keyOfLine(line));
            }
        } else if (key == "ARC") {
            job.archived = text::upper(value) == "YES";
        } else if (key == "SPL") {
            auto split = text::parseInt(value);
            if (split && *split >= INT32_MIN && *split <= INT32_MAX) {
                job.splitSize = static_cast<std::int32_t>(*split);
            } else {
                problem(keyOfLine(line));
            }
        } else if (key == "OKL") {
            if (auto stamp = stampAt(value, 1)) {
                job.lastOK = *stamp;
            } else {
                problem(keyOfLine(line));
            }
        } else if (key == "SCH") {
            std::string why;
            job.Schedule = parseScheduleText(value, &why);
            if (!why.empty()) {
                problem(keyOfLine(line) + ": " + why);
            }
        }
    }
}

StoreState stateOf(const IniFile& ini, bool noJobRead, const std::vector<StoreProblem>& problems) {
    if (problems.empty()) {
        return StoreState::Sound;
    }
    if (noJobRead) {
        for (const std::string& section : ini.sectionNames()) {
            if (!text::iequals(section, kJobListSection)) {
                return StoreState::JobsUnreadable;
            }
        }
    }
    return StoreState::Damaged;
}

// The copy of a damaged store with exactly this content, if one was kept.
std::optional<std::string> keptCopyOf(const std::string& path, const std::string& content) {
    const std::string folder = fs::parentOf(path);
    const std::string prefix = fs::fileNameOf(path) + ".damaged-";
    auto entries = fs::listDir(folder);
    if (!entries) {
        return std::nullopt;
    }
    for (const std::string& entry : *entries) {
        if (!text::startsWith(entry, prefix) || fs::isAtomicWriteLeftover(entry)) {
            continue;
        }
        const std::string copy = fs::join(folder, entry);
        const auto size = fs::fileSize(copy);
        if (size && *size == static_cast<std::int64_t>(content.size()) &&
            fs::readFile(copy) == content) {
            return copy;
        }
    }
    return std::nullopt;
}

// Before a damaged store is rewritten from what could be read of it, its content is kept beside
// it, once however often it is written. False when it must stay as it is: no job of it can be
// read (a rewrite would drop them all), or the copy cannot be made.
bool keepDamagedStore(const std::string& path, const std::string& content, RunControl& rc) {
    const IniFile ini = IniFile::parse(content);
    Jobs read;
    std::vector<StoreProblem> problems;
    readJobStore(ini, read, problems);
    switch (stateOf(ini, read.empty(), problems)) {
        case StoreState::Sound:
            return true;
        case StoreState::JobsUnreadable:
            rc.WriteLog(rc.format("strMsgStoreJobsUnreadable", {{"%d", path}}));
            return false;
        case StoreState::Damaged:
            break;
    }
    if (keptCopyOf(path, content)) {
        return true;
    }
    const std::string stamp = rc.clock.now().format("yyyyMMddHHmmss");
    std::string copy = path + ".damaged-" + stamp;
    for (int n = 1; fs::exists(copy); ++n) {
        copy = path + ".damaged-" + stamp + "-" + std::to_string(n);
    }
    std::string error;
    if (!fs::writeFileAtomic(copy, content, kPrivateMode, &error)) {
        rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        return false;
    }
    rc.WriteLog(rc.format("strMsgStoreCopyKept", {{"%d", copy}}));
    return true;
}

}  // namespace

std::string scheduleText(const clsSchedule* schedule) {
    if (schedule == nullptr) {
        return "0";
    }
    if (schedule->Tip < kScheduleHourly || schedule->Tip > kScheduleOnce) {
        return "";
    }
    char data[8];
    std::snprintf(data, sizeof data, "%03u", static_cast<unsigned>(schedule->Data));
    std::string out =
        std::to_string(schedule->Tip) + "," + schedule->start.format(kStampFormat) + "," + data;
    if (schedule->Tip != kScheduleHourly) {
        out += "," + schedule->StartHour.format("HHmm");
    }
    return out;
}

std::shared_ptr<clsSchedule> parseScheduleText(std::string_view value, std::string* problem) {
    if (value.empty()) {
        return nullptr;
    }
    if (value.front() < '0' || value.front() > '9') {
        *problem = "kind is not a digit";
        return nullptr;
    }
    const int kind = value.front() - '0';
    if (kind == 0) {
        return nullptr;
    }
    auto schedule = std::make_shared<clsSchedule>();
    schedule->Tip = static_cast<std::uint8_t>(kind);
    schedule->enabled = true;
    auto start = stampAt(value, 3);
    // Data is three characters as written, but fewer digits read the same.
    std::string_view dataText = value.size() > 15 ? value.substr(15, 3) : std::string_view();
    if (const size_t comma = dataText.find(','); comma != std::string_view::npos) {
        dataText = dataText.substr(0, comma);
    }
    auto data = text::parseInt(dataText);
    if (!start || !data || *data < 0 || *data > 255) {
        *problem = "damaged start or data";
        return nullptr;
    }
    schedule->start = *start;
    schedule->Data = static_cast<std::uint8_t>(*data);
    if (kind > 1) {
        auto h = digitsAt(value, 20, 2);
        auto m = digitsAt(value, 22, 2);
        if (!h || !m || *h > 23 || *m > 59) {
            *problem = "damaged time of day";
            return nullptr;
        }
        schedule->StartHour = DateTime().addSeconds(*h * 3600 + *m * 60);
    }
    return schedule;
}

bool isStorableJobName(std::string_view name, std::string* whyKey) {
    auto reject = [&](const char* key) {
        if (whyKey != nullptr) {
            *whyKey = key;
        }
        return false;
    };
    if (text::trimSpace(name).empty()) {
        return reject("strMsgNameEmpty");
    }
    if (text::trimSpace(name).size() != name.size()) {
        return reject("strMsgNameBlanks");
    }
    if (hasControlCharacters(name) || name.find('\xff') != std::string_view::npos) {
        return reject("strMsgNameControl");
    }
    if (name.find_first_of("[]/|") != std::string_view::npos || name.front() == ';') {
        return reject("strMsgNameBadChars");
    }
    if (text::iequals(name, kJobListSection)) {
        return reject("strMsgNameReserved");
    }
    return true;
}

void readJobStore(const IniFile& ini, Jobs& jobs, std::vector<StoreProblem>& problems) {
    auto list = ini.sectionLines(kJobListSection);
    if (!list) {
        if (!ini.sectionNames().empty() || ini.hasLinesOutsideSections()) {
            problems.push_back({std::string(kJobListSection), "the job list is missing"});
        }
        return;
    }
    if (ini.hasLinesOutsideSections()) {
        problems.push_back({"", "lines before the first section"});
    }
    std::unordered_set<std::string> listed;  // lower case: sections match without case
    for (const std::string& line : *list) {
        std::string_view name = line;
        if (const size_t cut = name.find('\xff'); cut != std::string_view::npos) {
            name = name.substr(0, cut);
        }
        if (name.empty()) {
            continue;
        }
        if (hasControlCharacters(name)) {
            problems.push_back({std::string(kJobListSection), "a name with control characters"});
            continue;
        }
        // Its section would be the job list itself: it would read the names as its settings, and
        // writing it would put its settings among the names.
        if (text::iequals(name, kJobListSection)) {
            problems.push_back({std::string(kJobListSection), "a job named like the job list"});
            continue;
        }
        auto job = std::make_unique<clsBackup>();
        job->sName = std::string(name);
        if (auto section = ini.sectionLines(job->sName)) {
            readJobSection(*section, *job, problems);
        }
        listed.insert(text::lower(name));
        jobs.append(std::move(job));
    }
    // The next save would drop these without a word: they make the store damaged.
    std::unordered_set<std::string> seen;
    for (const std::string& section : ini.sectionNames()) {
        const std::string key = text::lower(section);
        if (!seen.insert(key).second) {
            problems.push_back({section, "a second section of this name"});
        } else if (!text::iequals(section, kJobListSection) && !listed.contains(key)) {
            problems.push_back({section, "a section the job list does not name"});
        }
    }
}

IniFile writeJobStore(const Jobs& jobs) {
    IniFile ini;
    std::vector<std::string> names;
    for (const auto& job : jobs) {
        names.push_back(job->sName);
    }
    ini.writeSection(kJobListSection, names);

    for (const auto& jobPtr : jobs) {
        const clsBackup& job = *jobPtr;
        std::vector<std::string> lines;
        auto put = [&](std::string_view key, std::string_view value) {
            lines.push_back(std::string(key) + "=" + std::string(value));
        };
        const bool ftp = job.destFTP && job.objDestination;
        put("Storage", ftp ? "FTP" : "LOC");
        if (ftp) {
            const clsKestrel& dest = *job.objDestination;
            put("Hostname", dest.hostname);
            put("Port", std::to_string(dest.port));
            put("User", dest.username);
            put("Pass", ToCodeList(ScrambleText(dest.password)));
            put("Pav", dest.bPassiveMode ? "PASV" : "PORT");
        }
        put("Destination", job.sDestinationDir);
        put("Type", job.bIncremental ? "INCR" : "FULL");
        put("Compress", job.bZipped ? "ZIP" : "NOT");
        put("IMSK", job.IncludeMask);
        put("EMSK", job.ExcludeMask);
        put("Status", std::to_string(job.enumStatus));
        std::string protection;
        if (job.passwordUnreadable) {
            // Written back as read; "," (no password either) if there is nothing to write back.
            protection = job.storedProtection.empty() ? "," : job.storedProtection;
        } else if (job.Protected) {
            protection = ToCodeList(ScrambleText(job.password));
        }
        put("Protected", protection);
        put("OKLast", job.lastOK.format(kStampFormat));
        put("Archived", job.archived ? "yes" : "no");
        put("Split", job.splitSize < 1 ? "0" : std::to_string(job.splitSize));
        put("Schedule", scheduleText(job.Schedule.get()));
        size_t dirs = 0;
        size_t files = 0;
        for (const auto& entry : job.Files) {
            if (entry->bForD == kSourceFolder) {
                put("Dir" + fourDigits(++dirs), entry->sPath);
            } else if (entry->bForD == kSourceFile) {
                put("File" + fourDigits(++files),
                    entry->sPath + "," + std::to_string(entry->dSize));
            }
        }
        if (!ini.hasSection(job.sName)) {
            ini.writeSection(job.sName, lines);
        } else {
            // Two jobs whose names differ only in case share one section, key by key.
            for (const std::string& l : lines) {
                const size_t eq = l.find('=');
                ini.writeValue(job.sName, l.substr(0, eq), l.substr(eq + 1));
            }
        }
    }
    return ini;
}

bool LoadJobs(const std::string& path, Jobs& jobs, RunControl& rc, StoreState* state) {
    std::string error;
    IniFile ini;
    if (ini.load(path, &error) == IniFile::LoadResult::Failed) {
        rc.WriteLog(rc.format("strMsgStoreReadFailed", {{"%s", error}}));
        return false;
    }
    std::vector<StoreProblem> problems;
    const size_t before = jobs.count();
    readJobStore(ini, jobs, problems);
    for (const StoreProblem& p : problems) {
        rc.WriteLog(rc.format("strMsgStoreLineSkipped", {{"%d", p.section}, {"%s", p.what}}));
    }
    if (state != nullptr) {
        *state = stateOf(ini, jobs.count() == before, problems);
    }
    return true;
}

bool SaveJobs(const std::string& path, const Jobs& jobs, RunControl& rc) {
    const std::string backup = path + ".bak";
    std::string error;
    if (fs::exists(path)) {
        // What cannot be read cannot be checked for jobs the new version would drop.
        auto previous = fs::readFile(path, &error);
        if (!previous) {
            rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
            return false;
        }
        if (!keepDamagedStore(path, *previous, rc)) {
            return false;
        }
        if (!fs::writeFileAtomic(backup, *previous, kPrivateMode, &error)) {
            rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        }
    } else if (fs::exists(backup) && !fs::removeFile(backup, &error)) {
        rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
    }
    if (!writeJobStore(jobs).save(path, kPrivateMode, &error)) {
        rc.WriteLog(rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        return false;
    }
    return true;
}

std::string NewJob(Settings& settings) {
    const std::int64_t n = text::leadingInt(settings.general("bkpIndex", "0")) + 1;
    if (!settings.saveGeneral("bkpIndex", std::to_string(n))) {
        // The name is still proposed; the next one may repeat it, and the editor refuses a
        // name that exists.
    }
    return "New backup " + std::to_string(n);
}

// Temporary files of store writes that a killed process never renamed (backups.ini.tmp-XXXXXX,
// backups.ini.bak.tmp-XXXXXX).
std::vector<std::string> JobStore::writeLeftovers() const {
    const std::string folder = fs::parentOf(m_path);
    const std::string name = fs::fileNameOf(m_path);
    std::vector<std::string> found;
    auto entries = fs::listDir(folder);
    if (!entries) {
        return found;
    }
    for (const std::string& entry : *entries) {
        std::string stem;
        if (fs::isAtomicWriteLeftover(entry, &stem) && text::startsWith(stem, name)) {
            found.push_back(fs::join(folder, entry));
        }
    }
    return found;
}

// Only called under the store's lock, when no write is under way.
void JobStore::removeWriteLeftovers() {
    for (const std::string& path : writeLeftovers()) {
        if (fs::isRegularFile(path) && fs::removeFile(path)) {
            m_rc.WriteLog(m_rc.format("strMsgLeftoverRemoved", {{"%d", path}}));
        }
    }
}

bool JobStore::read(Jobs& jobs) {
    // Only a leftover is worth the lock: a plain read creates no file.
    if (!writeLeftovers().empty()) {
        FileLock lock;
        if (lock.lock(lockPath(), 0, nullptr) == FileLock::Result::Acquired) {
            removeWriteLeftovers();
        }
    }
    m_seen = fs::stampOf(m_path);
    Jobs fresh;
    if (!LoadJobs(m_path, fresh, m_rc, &m_state)) {
        return false;
    }
    jobs = std::move(fresh);
    return true;
}

JobStore::Result JobStore::update(const std::function<Change(Jobs&)>& change, Jobs& jobs) {
    FileLock lock;
    std::string error;
    if (lock.lock(lockPath(), m_lockWaitMs, &error) != FileLock::Result::Acquired) {
        if (error.empty()) {
            error = "another program keeps the job store locked (" + lockPath() + ")";
        }
        m_rc.WriteLog(m_rc.format("strMsgStoreWriteFailed", {{"%s", error}}));
        return Result::Failed;
    }
    removeWriteLeftovers();
    const fs::FileStamp before = fs::stampOf(m_path);
    Jobs fresh;
    if (!LoadJobs(m_path, fresh, m_rc, &m_state)) {
        return Result::Failed;
    }
    const Change done = change(fresh);
    Result result = Result::Written;
    switch (done) {
        case Change::Done:
            if (!SaveJobs(m_path, fresh, m_rc)) {
                return Result::Failed;
            }
            m_seen = fs::stampOf(m_path);
            m_state = StoreState::Sound;
            break;
        case Change::Unchanged:
            result = Result::Unchanged;
            m_seen = before;
            break;
        case Change::NotFound:
            result = Result::NotFound;
            m_seen = before;
            break;
        case Change::NameExists:
            result = Result::NameExists;
            m_seen = before;
            break;
    }
    jobs = std::move(fresh);
    return result;
}

JobStore::Result JobStore::add(std::shared_ptr<clsBackup> job, Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            if (on.indexOfAnyCase(job->sName) >= 0) {
                return Change::NameExists;
            }
            on.append(job);
            return Change::Done;
        },
        jobs);
}

JobStore::Result JobStore::replace(const std::string& name, std::shared_ptr<clsBackup> job,
                                   Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            const std::ptrdiff_t at = on.indexOf(name);
            if (at < 0) {
                return Change::NotFound;
            }
            const std::ptrdiff_t clash = on.indexOfAnyCase(job->sName);
            if (clash >= 0 && clash != at) {
                return Change::NameExists;
            }
            on.replaceAt(static_cast<size_t>(at), job);
            return Change::Done;
        },
        jobs);
}

JobStore::Result JobStore::remove(const std::string& name, Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            const std::ptrdiff_t at = on.indexOf(name);
            if (at < 0) {
                return Change::NotFound;
            }
            on.removeAt(static_cast<size_t>(at));
            return Change::Done;
        },
        jobs);
}

JobStore::Result JobStore::recordOutcome(const std::string& name, std::int32_t status,
                                         const DateTime& lastOK, Jobs& jobs) {
    return update(
        [&](Jobs& on) {
            clsBackup* job = on.find(name);
            if (job == nullptr) {
                return Change::NotFound;
            }
            job->enumStatus = status;
            job->lastOK = lastOK;
            return Change::Done;
        },
        jobs);
}

bool JobStore::changedOnDisk() const {
    return !(fs::stampOf(m_path) == m_seen);
}

}  // namespace kestrel
