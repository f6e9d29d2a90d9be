// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/job_rules.h"

#include <climits>

#include "core/settings.h"
#include "jobs/store_format.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {

JobProblem checkJob(const clsBackup& job, const Jobs& jobs, std::string_view originalName) {
    std::string key;
    if (!isStorableJobName(job.sName, &key)) {
        return {key, job.sName, JobField::Name};
    }
    for (const auto& other : jobs) {
        if (text::iequals(other->sName, job.sName) && other->sName != originalName) {
            return {"strMsgBackupNameExists", job.sName, JobField::Name};
        }
    }
    if (job.Files.empty()) {
        return {"strMsgNoSrcToBackup", "", JobField::Sources};
    }
    for (size_t i = 0; i < job.Files.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (job.Files[i]->sPath == job.Files[j]->sPath) {
                return {"strMsgFileAlreadyAdded", job.Files[i]->sPath, JobField::Sources};
            }
        }
    }
    if (job.destFTP) {
        if (!job.objDestination) {
            return {"strMsgCantConnectToFTP", "", JobField::Destination};
        }
        if (!job.archived) {
            return {"strMsgCantUseThisOptWithFTP", "", JobField::ArchiveType};
        }
    } else if (job.sDestinationDir.empty() || !fs::isDirectory(job.sDestinationDir)) {
        return {"strMsgDestDirNotExists", job.sDestinationDir, JobField::Destination};
    }
    if (job.splitSize > 0 && !job.archived) {
        return {"strMsgSplitNeedsArchive", "", JobField::ArchiveType};
    }
    return {};
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
    if (text::hasControlCharacters(name) || name.find('\xff') != std::string_view::npos) {
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

std::string cleanJobName(std::string_view name) {
    return text::replaceAll(name, "-", "");
}

std::string NewJob(Settings& settings) {
    const std::int64_t n = text::leadingInt(settings.general("bkpIndex", "0")) + 1;
    if (!settings.saveGeneral("bkpIndex", std::to_string(n))) {
        // The name is still proposed; the next one may repeat it, and the editor refuses a
        // name that exists.
    }
    return "New backup " + std::to_string(n);
}

std::optional<std::int32_t> parseSplitSize(std::string_view s) {
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
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*n * factor);
}

bool passwordOpens(const clsBackup& job, std::string_view password) {
    if (job.passwordUnreadable) {
        return false;  // no password is known to compare with
    }
    return !job.Protected || job.password.empty() || job.password == password;
}

}  // namespace kestrel
