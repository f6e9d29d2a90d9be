// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/job_row.h"

#include <cstdlib>

#include "core/messages.h"
#include "jobs/backup.h"
#include "platform/text.h"
#include "ui/version.h"

namespace kestrel::ui {

namespace {

// Characters, not bytes: a German tip must not be cut inside a letter.
size_t characters(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string firstCharacters(const std::string& text, size_t count) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n++ == count) {
            return text.substr(0, i);
        }
    }
    return text;
}

}  // namespace

std::string jobTypeText(const clsBackup& job, const Messages& messages) {
    std::string text = messages.GetMessage(job.bIncremental ? "strMsgIncremental" : "strMsgFull");
    if (job.bZipped) {
        text += "(" + messages.GetMessage("strMsgCompressed") + ")";
    }
    return text;
}

std::string jobIconKey(const clsBackup& job) {
    if (job.passwordUnreadable)
        return "locked";
    if (job.enumStatus == kStatusNeverRun)
        return "unknown";
    if (job.enumStatus == kStatusFailed || job.enumStatus == kStatusAborted)
        return "fail";
    return job.destFTP ? "ftp" : "backup";
}

std::string lastRunText(const clsBackup& job, const DateTime& now, const Messages& messages) {
    if (job.lastOK.isZero() || std::abs(job.lastOK.year() - now.year()) > 10) {
        return messages.GetMessage("strMsgNever");
    }
    return job.lastOK.format("yyyy-MM-dd HH:mm");
}

std::string destinationText(const clsBackup& job) {
    if (job.destFTP && job.objDestination) {
        const clsKestrel& d = *job.objDestination;
        return "ftp://" + d.hostname + ":" + std::to_string(d.port) + job.sDestinationDir;
    }
    return job.sDestinationDir;
}

std::string trayTipText(const std::string& text) {
    const std::string shown =
        characters(text) > 50 ? std::string("Message too long! Check the message list") : text;
    return firstCharacters(shown + "\n" + kProgramTitle + " " + std::to_string(kVersionMajor) +
                               "." + std::to_string(kVersionMinor),
                           64);
}

}  // namespace kestrel::ui
