// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/store_format.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <unordered_set>

#include "jobs/scramble.h"
#include "platform/date_time.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kStampFormat = "yyyyMMddHHmm";

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

std::optional<std::int32_t> parseInt32(std::string_view s) {
    auto n = text::parseInt(s);
    if (!n || *n < INT32_MIN || *n > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*n);
}

std::string fourDigits(size_t n) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04zu", n);
    return buf;
}

bool isFtp(const clsBackup& job) {
    return job.destFTP && job.objDestination;
}

std::string protectionValue(const clsBackup& job) {
    if (job.passwordUnreadable) {
        // Written back as read; "," (no password either) if there is nothing to write back.
        return job.storedProtection.empty() ? "," : job.storedProtection;
    }
    return job.Protected ? ToCodeList(ScrambleText(job.password)) : "";
}

bool readProtection(clsBackup& job, const std::string& value, std::string*) {
    job.Protected = !value.empty();
    job.password.clear();
    job.passwordUnreadable = false;
    job.storedProtection.clear();
    if (!job.Protected) {
        return true;
    }
    // A protection that was asked for is never dropped: a value that gives no password locks
    // the job, and is kept to be written back as it was.
    auto codes = parseCodeList(value);
    if (codes && !codes->empty()) {
        job.password = UnscrambleText(*codes);
    } else {
        job.passwordUnreadable = true;
        job.storedProtection = value;
    }
    return true;
}

// A pinned certificate as the writer stores it: 64 lowercase hex digits.
bool isStoredPin(std::string_view v) {
    return v.size() == 64 && v.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Readers and writers of the settings that are plain texts and numbers.
template <std::string clsBackup::*Field>
std::string textOf(const clsBackup& job) {
    return job.*Field;
}
template <std::string clsBackup::*Field>
bool readText(clsBackup& job, const std::string& value, std::string*) {
    job.*Field = value;
    return true;
}
template <std::string clsKestrel::*Field>
std::string ftpTextOf(const clsBackup& job) {
    return (*job.objDestination).*Field;
}
template <std::string clsKestrel::*Field>
bool readFtpText(clsBackup& job, const std::string& value, std::string*) {
    (*job.objDestination).*Field = value;
    return true;
}
template <std::int32_t clsBackup::*Field>
bool readInt32(clsBackup& job, const std::string& value, std::string*) {
    auto n = parseInt32(value);
    if (n) {
        job.*Field = *n;
    }
    return n.has_value();
}

// One setting of a job section. The writer writes them in this order, the FTP record's only for
// a job with one; the reader knows a key by its first three letters in any letter case, takes
// the FTP record's only after "Storage=FTP" made the record, and skips (and reports) a value
// that read returns false for, *why saying how it is damaged when that helps.
struct KeyField {
    std::string_view key;
    bool ftpRecord;
    std::string (*write)(const clsBackup& job);
    bool (*read)(clsBackup& job, const std::string& value, std::string* why);
    // Known by the whole key instead: keys added later share their first three letters.
    bool wholeKey = false;
    // Written only when it has something to say.
    bool (*present)(const clsBackup& job) = nullptr;
};

const KeyField kKeyFields[] = {
    {"Storage", false, [](const clsBackup& j) -> std::string { return isFtp(j) ? "FTP" : "LOC"; },
     [](clsBackup& j, const std::string& v, std::string*) {
         j.destFTP = text::endsWith(v, "FTP");
         j.objDestination = j.destFTP ? std::make_shared<clsKestrel>() : nullptr;
         return true;
     }},
    {"Hostname", true, ftpTextOf<&clsKestrel::hostname>, readFtpText<&clsKestrel::hostname>},
    {"Port", true, [](const clsBackup& j) { return std::to_string(j.objDestination->port); },
     [](clsBackup& j, const std::string& v, std::string*) {
         auto port = text::parseInt(v);
         if (!port || *port < 0 || *port > 65535) {
             return false;
         }
         j.objDestination->port = static_cast<std::int32_t>(*port);
         return true;
     }},
    {"User", true, ftpTextOf<&clsKestrel::username>, readFtpText<&clsKestrel::username>},
    {"Pass", true,
     [](const clsBackup& j) { return ToCodeList(ScrambleText(j.objDestination->password)); },
     [](clsBackup& j, const std::string& v, std::string*) {
         auto codes = parseCodeList(v);
         if (!codes) {
             return false;
         }
         j.objDestination->password = UnscrambleText(*codes);
         return true;
     }},
    {"Pav", true,
     [](const clsBackup& j) -> std::string {
         return j.objDestination->bPassiveMode ? "PASV" : "PORT";
     },
     [](clsBackup& j, const std::string& v, std::string*) {
         j.objDestination->bPassiveMode = text::endsWith(v, "PASV");
         return true;
     }},
    // An older reader skips both; without them a job is plain FTP with no pin.
    {"FtpTls", true,
     [](const clsBackup& j) -> std::string { return j.objDestination->bTls ? "REQUIRED" : "OFF"; },
     [](clsBackup& j, const std::string& v, std::string*) {
         const std::string word = text::upper(text::trimSpace(v));
         // A damaged value keeps TLS required: a run that fails is better than a password in
         // clear.
         j.objDestination->bTls = word != "OFF";
         return word == "OFF" || word == "REQUIRED";
     },
     true},
    {"FtpTlsPin", true, ftpTextOf<&clsKestrel::sTlsPin>,
     [](clsBackup& j, const std::string& v, std::string*) {
         const std::string pin(text::trimSpace(v));
         if (!isStoredPin(pin)) {
             return false;
         }
         j.objDestination->sTlsPin = pin;
         return true;
     },
     true, [](const clsBackup& j) { return !j.objDestination->sTlsPin.empty(); }},
    {"Destination", false, textOf<&clsBackup::sDestinationDir>,
     readText<&clsBackup::sDestinationDir>},
    {"Type", false,
     [](const clsBackup& j) -> std::string { return j.bIncremental ? "INCR" : "FULL"; },
     [](clsBackup& j, const std::string& v, std::string*) {
         j.bIncremental = v != "FULL";
         return true;
     }},
    {"Compress", false, [](const clsBackup& j) -> std::string { return j.bZipped ? "ZIP" : "NOT"; },
     [](clsBackup& j, const std::string& v, std::string*) {
         j.bZipped = v != "NOT";
         return true;
     }},
    {"IMSK", false, textOf<&clsBackup::IncludeMask>, readText<&clsBackup::IncludeMask>},
    {"EMSK", false, textOf<&clsBackup::ExcludeMask>, readText<&clsBackup::ExcludeMask>},
    {"Status", false, [](const clsBackup& j) { return std::to_string(j.enumStatus); },
     readInt32<&clsBackup::enumStatus>},
    {"Protected", false, protectionValue, readProtection},
    {"OKLast", false, [](const clsBackup& j) { return j.lastOK.format(kStampFormat); },
     [](clsBackup& j, const std::string& v, std::string*) {
         auto stamp = stampAt(v, 1);
         j.lastOK = stamp.value_or(j.lastOK);
         return stamp.has_value();
     }},
    {"Archived", false, [](const clsBackup& j) -> std::string { return j.archived ? "yes" : "no"; },
     [](clsBackup& j, const std::string& v, std::string*) {
         j.archived = text::upper(v) == "YES";
         return true;
     }},
    {"Split", false,
     [](const clsBackup& j) { return j.splitSize < 1 ? "0" : std::to_string(j.splitSize); },
     readInt32<&clsBackup::splitSize>},
    {"Schedule", false, [](const clsBackup& j) { return scheduleText(j.Schedule.get()); },
     [](clsBackup& j, const std::string& v, std::string* why) {
         j.Schedule = parseScheduleText(v, why);
         return why->empty();
     }},
};

// Source entries follow the settings, numbered from 1 per kind in the order of the job's
// sources: "Dir0001=PATH" for a folder, "File0001=PATH,SIZE" for a file. Entries of another kind
// are not written.
struct SourceKey {
    std::string_view key;
    std::int32_t kind;
};
constexpr SourceKey kSourceKeys[] = {{"Dir", kSourceFolder}, {"File", kSourceFile}};

// How the reader knows a key: its first three letters, blanks trimmed, in upper case.
std::string readKey(std::string_view line) {
    return text::upper(text::trimBlanks(line.substr(0, 3)));
}

// The key of a line as written, for messages.
std::string keyOfLine(std::string_view line) {
    const size_t eq = line.find('=');
    return std::string(
        text::trimSpace(line.substr(0, eq == std::string_view::npos ? line.size() : eq)));
}

void readSource(const SourceKey& source, const std::string& value, clsBackup& job) {
    auto entry = std::make_unique<clsBackupFile>();
    entry->bForD = source.kind;
    entry->sPath = value;
    // Split at the last comma: sizes never hold one, paths may.
    const size_t comma = value.rfind(',');
    if (source.kind == kSourceFile && comma != std::string::npos) {
        if (auto size = parseSize(std::string_view(value).substr(comma + 1))) {
            entry->sPath = value.substr(0, comma);
            entry->dSize = *size;
        }
    }
    job.AddFile(std::move(entry));
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
        const std::string key = readKey(line);
        const std::string value = line.substr(eq + 1);
        for (const SourceKey& source : kSourceKeys) {
            if (readKey(source.key) == key) {
                readSource(source, value, job);
            }
        }
        for (const KeyField& field : kKeyFields) {
            if (field.wholeKey ? !text::iequals(keyOfLine(line), field.key)
                               : readKey(field.key) != key) {
                continue;
            }
            std::string why;
            if (field.ftpRecord && !job.objDestination) {
                problem(keyOfLine(line) + " before Storage=FTP");
            } else if (!field.read(job, value, &why)) {
                problem(keyOfLine(line) + (why.empty() ? "" : ": " + why));
            }
        }
    }
}

std::vector<std::string> jobSectionLines(const clsBackup& job) {
    std::vector<std::string> lines;
    auto put = [&](std::string_view key, std::string_view value) {
        lines.push_back(std::string(key) + "=" + std::string(value));
    };
    for (const KeyField& field : kKeyFields) {
        if ((!field.ftpRecord || isFtp(job)) && (!field.present || field.present(job))) {
            put(field.key, field.write(job));
        }
    }
    size_t written[std::size(kSourceKeys)] = {};
    for (const auto& entry : job.Files) {
        for (size_t i = 0; i < std::size(kSourceKeys); ++i) {
            if (entry->bForD != kSourceKeys[i].kind) {
                continue;
            }
            const std::string number = fourDigits(++written[i]);
            put(std::string(kSourceKeys[i].key) + number,
                entry->bForD == kSourceFile ? entry->sPath + "," + std::to_string(entry->dSize)
                                            : entry->sPath);
        }
    }
    return lines;
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
    // Appended piece by piece: GCC 12 at -O3 warns falsely about the chain of temporaries.
    std::string out = std::to_string(schedule->Tip);
    out += ',';
    out += schedule->start.format(kStampFormat);
    out += ',';
    out += data;
    if (schedule->Tip != kScheduleHourly) {
        out += ',';
        out += schedule->StartHour.format("HHmm");
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
        if (text::hasControlCharacters(name)) {
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
    for (const auto& job : jobs) {
        const std::vector<std::string> lines = jobSectionLines(*job);
        if (!ini.hasSection(job->sName)) {
            ini.writeSection(job->sName, lines);
        } else {
            // Two jobs whose names differ only in case share one section, key by key.
            for (const std::string& l : lines) {
                const size_t eq = l.find('=');
                ini.writeValue(job->sName, l.substr(0, eq), l.substr(eq + 1));
            }
        }
    }
    return ini;
}

}  // namespace kestrel
