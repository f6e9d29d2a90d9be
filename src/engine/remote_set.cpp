// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/remote_set.h"

#include <algorithm>

#include "archive/format.h"
#include "archive/meta.h"
#include "archive/sums.h"
#include "core/run_control.h"
#include "engine/set_switch.h"
#include "ftp/ftp_client.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

std::string remotePath(const clsBackup& job, const std::string& name) {
    return remoteJoin(job.sDestinationDir, name);
}

std::string staged(const std::string& name) {
    return name + std::string(kStagedSuffix);
}

// Renames within the remote folder, over an existing file. Servers that will not rename over a
// file get it removed first: this only runs where the journal already names the new set.
bool renameOver(FtpClient& session, const clsBackup& job, RemoteListing& listing,
                const std::string& from, const std::string& to) {
    if (!session.RenameFile(remotePath(job, from), remotePath(job, to))) {
        if (listing.count(to) == 0 || !session.DeleteFile(remotePath(job, to)) ||
            !session.RenameFile(remotePath(job, from), remotePath(job, to))) {
            return false;
        }
    }
    listing[to] = listing[from];
    listing.erase(from);
    return true;
}

// Steps 3 and 4: what is still staged is renamed into place (renaming twice is harmless: what
// is no longer staged was renamed before), then a full set drops the old volumes it lacks.
bool completeRemoteSwitch(RunControl& rc, FtpClient& session, const clsBackup& job,
                          const SwitchJournal& journal, RemoteListing& listing,
                          std::string* error) {
    for (const std::string& name : journal.names) {
        if (listing.count(staged(name)) != 0 &&
            !renameOver(session, job, listing, staged(name), name)) {
            *error = "the server did not rename " + staged(name) + " to " + name;
            return false;
        }
    }
    if (journal.full) {
        std::vector<std::string> old;
        for (const auto& [name, size] : listing) {
            if (isFullVolumeOf(job.sName, name) &&
                std::find(journal.names.begin(), journal.names.end(), name) ==
                    journal.names.end()) {
                old.push_back(name);
            }
        }
        for (const std::string& name : old) {
            if (session.DeleteFile(remotePath(job, name))) {
                listing.erase(name);
            } else {
                // Unreferenced by the new catalogue: in the way of nothing.
                rc.WriteLog(rc.messages.format(
                    "strMsgSetSwitchFailed",
                    {{"%d", job.sName}, {"%s", "the server did not remove " + name}}));
            }
        }
    }
    const std::string journalName = switchJournalName(job.sName);
    if (!session.DeleteFile(remotePath(job, journalName))) {
        *error = "the server did not remove " + journalName;
        return false;
    }
    listing.erase(journalName);
    return true;
}

}  // namespace

std::optional<RemoteListing> listRemoteFolder(RunControl& rc, FtpClient& session,
                                              const clsBackup& job) {
    if (!session.ChangeCurrentDirectory(job.sDestinationDir)) {
        rc.WriteLog(rc.messages.format("strMsgChangeDirFail", {{"%d", job.sDestinationDir}}));
        return std::nullopt;
    }
    auto entries = session.GetFileList();
    if (!entries) {
        rc.WriteLog(
            rc.messages.format("strMsgCantListRemoteFolder", {{"%d", job.sDestinationDir}}));
        return std::nullopt;
    }
    RemoteListing listing;
    for (const clsFTPFile& f : *entries) {
        if (!f.bDir) {
            listing[f.strName] = f.dSize;
        }
    }
    return listing;
}

bool RecoverRemoteSet(RunControl& rc, FtpClient& session, const clsBackup& job,
                      RemoteListing& listing, const std::string& folder, bool removeLeftovers) {
    const std::string journalName = switchJournalName(job.sName);
    if (listing.count(journalName) != 0) {
        const std::string local = fs::join(folder, journalName);
        fs::removeLeftover(local);
        std::string error;
        std::optional<SwitchJournal> journal;
        if (session.GetFile(remotePath(job, journalName), local) ==
            FtpClient::GetResult::Downloaded) {
            if (auto content = fs::readFile(local, &error)) {
                journal = parseSwitchJournal(*content, job.sName);
            }
        }
        fs::removeLeftover(local);
        if (!journal) {
            rc.WriteLog(rc.messages.format(
                "strMsgSetSwitchFailed", {{"%d", job.sName},
                                          {"%s", remotePath(job, journalName) + " cannot be read" +
                                                     (error.empty() ? "" : " (" + error + ")")}}));
            return false;
        }
        if (!completeRemoteSwitch(rc, session, job, *journal, listing, &error)) {
            rc.WriteLog(
                rc.messages.format("strMsgSetSwitchFailed", {{"%d", job.sName}, {"%s", error}}));
            return false;
        }
        rc.WriteLog(rc.messages.format("strMsgSetRecovered", {{"%d", job.sName}}));
    }
    if (!removeLeftovers) {
        return true;
    }
    std::vector<std::string> leftovers;
    for (const auto& [name, size] : listing) {
        if (!text::endsWith(name, kStagedSuffix)) {
            continue;
        }
        const std::string stem = name.substr(0, name.size() - kStagedSuffix.size());
        if (isSetFileOf(job.sName, stem)) {
            leftovers.push_back(name);
        }
    }
    for (const std::string& name : leftovers) {
        if (session.DeleteFile(remotePath(job, name))) {
            listing.erase(name);
            rc.WriteLog(
                rc.messages.format("strMsgLeftoverRemoved", {{"%d", remotePath(job, name)}}));
        }
    }
    return true;
}

bool SwitchRemoteSet(RunControl& rc, FtpClient& session, const clsBackup& job,
                     const std::vector<std::string>& names, bool full, const RemoteListing& before,
                     const std::string& folder, const std::string& keptName, std::string* error) {
    RemoteListing listing = before;
    for (const std::string& name : names) {
        listing[staged(name)] = 0;
    }
    const std::string journalName = switchJournalName(job.sName);
    const SwitchJournal journal{full, names};
    const std::string local = fs::join(folder, journalName);
    auto giveUp = [&](const std::string& why) {
        *error = why;
        DiscardRemoteStaged(rc, session, job, names);
        static_cast<void>(session.DeleteFile(remotePath(job, staged(journalName))));
        return false;
    };
    if (!fs::writeFileAtomic(local, switchJournalText(journal), 0600, error)) {
        return giveUp(*error);
    }
    const bool uploaded = session.StoreFileAs(local, remotePath(job, staged(journalName)));
    fs::removeLeftover(local);
    if (!uploaded) {
        return giveUp("the journal " + staged(journalName) + " could not be uploaded");
    }
    listing[staged(journalName)] = 0;
    const std::string refused =
        "the server refuses to rename files (RNFR/RNTO); the old set "
        "is left as it was";
    if (!keptName.empty()) {
        const std::string catalogue = job.sName + std::string(kCatalogueExtension);
        if (listing.count(catalogue) != 0 &&
            !session.RenameFile(remotePath(job, catalogue), remotePath(job, keptName))) {
            return giveUp(refused);
        }
        listing.erase(catalogue);
        for (const std::string_view suffix : {kSumsSuffix, kMetaSuffix}) {
            const std::string sidecar = catalogue + std::string(suffix);
            if (listing.count(sidecar) != 0 &&
                !session.RenameFile(remotePath(job, sidecar),
                                    remotePath(job, keptName + std::string(suffix)))) {
                // The old catalogue then lies kept without it: its files are checked by their
                // crc, or restored with their attribute bits.
                rc.WriteLog(rc.messages.format(
                    "strMsgSetSwitchFailed",
                    {{"%d", job.sName}, {"%s", "the server did not rename " + sidecar}}));
            }
            listing.erase(sidecar);
        }
    }
    if (!session.RenameFile(remotePath(job, staged(journalName)), remotePath(job, journalName))) {
        return giveUp(refused);
    }
    listing.erase(staged(journalName));
    listing[journalName] = 0;
    return completeRemoteSwitch(rc, session, job, journal, listing, error);
}

void DiscardRemoteStaged(RunControl&, FtpClient& session, const clsBackup& job,
                         const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        static_cast<void>(session.DeleteFile(remotePath(job, staged(name))));
    }
}

}  // namespace kestrel
