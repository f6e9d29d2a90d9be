// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands/job_text.h"

#include "core/messages.h"
#include "jobs/schedule_text.h"

namespace kestrel {

std::string storageText(const Messages& messages, const clsBackup& job) {
    std::string out = !job.archived ? "Copy of files"
                      : job.bZipped ? messages.GetMessage("strMsgCompressed") + " archive"
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
        // A literal IPv6 address is bracketed, as in any URL, to keep its colons from the port's.
        const std::string host =
            d.hostname.find(':') != std::string::npos ? "[" + d.hostname + "]" : d.hostname;
        return (d.bTls ? "ftpes://" : "ftp://") + d.username + "@" + host + ":" +
               std::to_string(d.port) + dir;
    }
    return job.sDestinationDir;
}

std::string lastRunText(const Messages& messages, const clsBackup& job) {
    return job.lastOK.isZero() ? messages.GetMessage("strMsgNever")
                               : job.lastOK.format("yyyy-MM-dd HH:mm");
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

std::string describeSchedule(const clsSchedule* s) {
    if (s == nullptr) {
        return "none";
    }
    std::string out = scheduleSpec(*s);
    if (out.empty()) {
        return "unknown kind " + std::to_string(s->Tip);
    }
    if (s->Tip != kScheduleOnce) {
        out += ", from " + s->start.format("yyyy-MM-dd HH:mm");
    }
    if (!s->enabled) {
        out += " (disabled)";
    }
    return out;
}

}  // namespace kestrel
