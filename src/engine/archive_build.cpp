// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/archive_build.h"

#include "archive/archive.h"
#include "archive/meta.h"
#include "archive/sums.h"
#include "core/run_control.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

// A name as one log line: its line breaks shown as \n and \r.
std::string escapedName(const std::string& name) {
    std::string out;
    for (char c : name) {
        out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    }
    return out;
}

}  // namespace

std::string incrementalVolumeName(const std::string& jobName, const DateTime& start,
                                  const std::unordered_set<std::string>& usedNames) {
    std::string name = jobName + start.format("yyyyMMddHHmm");
    if (usedNames.count(name) == 0) {
        return name;
    }
    name = jobName + start.format("yyyyMMddHHmmss");
    for (char suffix = 'a'; usedNames.count(name) != 0 && suffix <= 'z'; ++suffix) {
        name = jobName + start.format("yyyyMMddHHmmss") + suffix;
    }
    return name;
}

BuildOutcome BuildArchive(RunControl& rc, clsBackup& job, WorkingList& list,
                          const std::string& folder, bool newChain, const EarlierSessions& earlier,
                          const SessionFacts* facts) {
    BuildOutcome outcome;
    clsArchive archive(rc, folder);
    ArchiveOptions session;
    session.name = job.sName;
    session.sessionDate = rc.clock.now();
    while (earlier.stamps.count(session.sessionDate.serialSeconds()) != 0) {
        session.sessionDate = session.sessionDate.addSeconds(1);
    }
    if (job.bIncremental) {
        session.volumeName =
            incrementalVolumeName(job.sName, session.sessionDate, earlier.volumeNames);
        session.clear = newChain;
    }
    session.zip = job.bZipped;
    session.totalBytes = job.RunSize;
    session.splitSize = job.archived ? job.splitSize : 0;
    archive.NewArchive(session);
    if (!archive.isOpen()) {
        rc.WriteLog(rc.messages.format("strMsgCantCreateArchive",
                                       {{"%d", folder}, {"%s", archive.status().text()}}));
        outcome.writeFailed = true;
        return outcome;
    }
    rc.showProgress(rc.msg("strMsgCreatingBkpArc"));

    std::int64_t added = 0;
    std::int64_t skipped = 0;  // by the user: logged each, and no failure
    for (const clsDskFile& file : list) {
        if (rc.flags.bPauseBackup) {
            WaitWhilePaused(rc);
        }
        clsArchive::AddResult code = clsArchive::AddResult::Failed;
        {
            FileCancelScope cancellable(rc);
            code = archive.AddFileToArchive(file, false);
        }
        const std::string fullName = file.fullName();
        switch (code) {
            case clsArchive::AddResult::Added:
                rc.WriteLog(rc.messages.format("strMsgAddedToArcOk", {{"%d", fullName}}));
                ++added;
                break;
            case clsArchive::AddResult::Failed:
                rc.WriteLog(
                    rc.messages.format("strMsgAddedToArcFail", {{"%d", fullName}}) +
                    (archive.status().text().empty() ? "" : " (" + archive.status().text() + ")"));
                outcome.diskFull = archive.status().isDiskFull();
                outcome.writeFailed = true;
                return outcome;
            case clsArchive::AddResult::Cancelled:
                if (rc.flags.stopping()) {
                    rc.WriteLog(rc.messages.format("strMsgFileAborted", {{"%d", fullName}}));
                    return outcome;
                }
                // The user skipped this file; the archive has cut back what it wrote.
                rc.WriteLog(rc.messages.format("strMsgFileSkipped", {{"%d", fullName}}));
                ++outcome.notAdded;
                ++skipped;
                break;
            case clsArchive::AddResult::OpenFailed:
                rc.WriteLog(rc.messages.format("strMsgOpenFailed", {{"%d", fullName}}));
                ++outcome.notAdded;
                break;
            case clsArchive::AddResult::UnstorableName:
                rc.WriteLog(
                    rc.messages.format("strMsgNameNotStorable", {{"%d", escapedName(fullName)}}));
                ++outcome.notAdded;
                break;
            default:
                break;
        }
        if (rc.flags.stopping()) {
            job.enumStatus = kStatusAborted;
            return outcome;
        }
    }
    rc.WriteLog(std::to_string(added) + "-" + std::to_string(list.size()));
    if (outcome.notAdded > skipped) {
        rc.WriteLog(rc.messages.format("strMsgFilesNotAdded",
                                       {{"%d", std::to_string(outcome.notAdded - skipped)}}));
    }

    WorkingList files;
    for (const clsDskFile& volume : archive.volumes()) {
        files.push_back(volume);
    }
    if (!files.empty()) {
        // The checksum file goes before the catalogue: a destination never holds catalogue
        // lines whose digests it lacks.
        const std::string folderOfSet = files.back().path;
        clsDskFile catalogue;
        catalogue.filename = job.sName + std::string(kCatalogueExtension);
        catalogue.path = folderOfSet;
        for (const std::string_view suffix : {kSumsSuffix, kMetaSuffix}) {
            clsDskFile sidecar = catalogue;
            sidecar.filename += std::string(suffix);
            // The facts file is completed by CloseArchive: it is there once a file was added.
            if (fs::exists(fs::join(folderOfSet, sidecar.filename))) {
                files.push_back(sidecar);
            }
        }
        files.push_back(catalogue);
    }
    const bool closed = facts != nullptr ? archive.CloseArchive(facts->folders, facts->links)
                                         : archive.CloseArchive();
    if (!closed) {
        // The last volume or the catalogue could not be completed: the session is unusable.
        rc.WriteLog(rc.messages.format("strMsgAddedToArcFail", {{"%d", archive.volumeName()}}) +
                    (archive.status().text().empty() ? "" : " (" + archive.status().text() + ")"));
        outcome.diskFull = archive.status().isDiskFull();
        outcome.writeFailed = true;
        return outcome;
    }
    list = std::move(files);
    outcome.result = StepResult::Done;
    return outcome;
}

}  // namespace kestrel
