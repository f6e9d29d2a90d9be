// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/transfer.h"

#include "core/run_control.h"
#include "engine/paths.h"
#include "engine/set_switch.h"
#include "ftp/ftp_client.h"
#include "platform/fs.h"

namespace kestrel {

std::string destinationFolder(const clsBackup& job, const clsDskFile& file) {
    if (job.archived) {
        // Volumes and catalogue lie directly in the destination, where the restore and the
        // next incremental run look for them.
        return job.sDestinationDir;
    }
    std::string_view folder = withoutDrive(file.path);
    while (!folder.empty() && folder.back() == fs::kSeparator) {
        folder.remove_suffix(1);
    }
    return fs::join(job.sDestinationDir, folder);
}

StoreResult CopyFileToDestination(RunControl& rc, const clsBackup& job, const clsDskFile& file,
                                  const std::string& sourceOverride, Status* status,
                                  std::string_view stageSuffix, ReadyFolders* ready) {
    const std::string source = fs::join(file.path, file.filename);
    const std::string folder = destinationFolder(job, file);
    const std::string destination = fs::join(folder, file.filename);
    Status why;
    bool skipped = false;
    auto keepGoing = [&] {
        rc.log.flushIfDue();
        rc.host.yield();
        if (rc.flags.bPauseBackup) {
            WaitWhilePaused(rc);
        }
        if (rc.flags.stopping()) {
            return false;
        }
        if (rc.flags.bCancelFile) {
            rc.flags.bCancelFile = false;
            skipped = true;
            return false;
        }
        return true;
    };
    // Plain copies have no restore that could put modes back, so the owner's bits travel with
    // the copy; what the source allowed others never does.
    const fs::CopyMode mode = job.archived ? fs::CopyMode::Private : fs::CopyMode::OwnerBits;
    auto prepare = [&] {
        if (!MakeDirs(folder)) {
            return false;
        }
        if (folder != job.sDestinationDir) {
            // The mirrored tree is the backup's, also where an older version made it readable;
            // the destination folder itself is the user's. Another user's folder stays as it is.
            static_cast<void>(fs::makePrivate(folder));
        }
        if (ready != nullptr) {
            ready->prepared.insert(folder);
        }
        return true;
    };
    auto copy = [&] {
        if (ready != nullptr && ready->heldPath != folder) {
            ready->held = fs::openFolder(folder);
            ready->heldPath = folder;
        }
        const bool fromList = sourceOverride.empty();
        if (ready != nullptr && fromList && ready->heldSourcePath != file.path) {
            ready->heldSource = fs::openFolder(file.path);
            ready->heldSourcePath = file.path;
        }
        return fs::copyFile(fromList ? source : sourceOverride,
                            destination + std::string(stageSuffix), &why, keepGoing, mode,
                            ready != nullptr ? ready->held.get() : -1,
                            ready != nullptr && fromList ? ready->heldSource.get() : -1);
    };
    const bool wasReady = ready != nullptr && ready->prepared.count(folder) != 0;
    bool ok = !file.filename.empty() && (wasReady || prepare()) && copy();
    if (!ok && wasReady && !skipped && !rc.flags.stopping() && !fs::isDirectory(folder)) {
        // The folder went away while the run was at work: made again, as for its first file.
        ready->prepared.erase(folder);
        ready->heldPath.clear();
        ok = prepare() && copy();
    }
    if (status != nullptr) {
        *status = why;
    }
    if (!ok && skipped) {
        rc.WriteLog(rc.messages.format("strMsgFileSkipped", {{"%d", source}}));
        return StoreResult::NotStored;
    }
    if (!ok) {
        rc.WriteLog(
            rc.messages.format("strMsgFileCopyFail", {{"%s", source}, {"%d", destination}}) +
            (why.text().empty() ? "" : " (" + why.text() + ")"));
        return StoreResult::NotStored;
    }
    rc.WriteLogBatched(
        rc.messages.format("strMsgFileCopyOk", {{"%s", source}, {"%d", destination}}));
    return StoreResult::Stored;
}

StoreResult UploadFile(RunControl& rc, FtpClient& session, const clsBackup& job,
                       const clsDskFile& file, const std::string& sourceOverride, bool keepStaged) {
    if (!session.ChangeCurrentDirectory(job.sDestinationDir)) {
        rc.WriteLog(rc.messages.format("strMsgChangeDirFail", {{"%d", job.sDestinationDir}}));
        return StoreResult::NotStored;
    }
    const std::string local =
        sourceOverride.empty() ? fs::join(file.path, file.filename) : sourceOverride;
    const std::string remote = remoteJoin(job.sDestinationDir, file.filename);
    const std::string staged = remote + std::string(kStagedSuffix);
    if (file.filename.empty() || !session.StoreFileAs(local, staged)) {
        if (!file.filename.empty()) {
            static_cast<void>(session.DeleteFile(staged));
        }
        if (rc.flags.bCancelFile) {
            rc.flags.bCancelFile = false;
            // Named as the user knows it, not as the encrypted copy that went up.
            rc.WriteLog(rc.messages.format("strMsgFileSkipped",
                                           {{"%d", fs::join(file.path, file.filename)}}));
        }
        rc.WriteLog(rc.messages.format("strMsgUploadFail", {{"%d", file.filename}}));
        return StoreResult::NotStored;
    }
    // Servers that will not rename over a file get the old copy removed first; the new one is
    // complete by then. Should that rename fail too, the staged copy stays for the next run.
    if (!keepStaged && !session.RenameFile(staged, remote) &&
        !(session.DeleteFile(remote) && session.RenameFile(staged, remote))) {
        rc.WriteLog(rc.messages.format("strMsgUploadFail", {{"%d", file.filename}}) + " (" +
                    staged + " could not be renamed)");
        return StoreResult::NotStored;
    }
    if (!keepStaged && !job.archived && sourceOverride.empty()) {
        // The copy's time is the file's, so that the next run can tell it unchanged; a server
        // that cannot set it only costs that run an upload.
        static_cast<void>(session.SetModifiedTime(remote, toPosixTime(file.lastWriteTime).seconds));
    }
    rc.WriteLogBatched(rc.messages.format("strMsgUploadOk", {{"%d", file.filename}}));
    return StoreResult::Stored;
}

bool MakeDirs(const std::string& path) {
    return fs::makePrivateDirs(path);
}

bool CleanTempFolder(RunControl& rc, const std::string& folder) {
    std::string error;
    if (!fs::deleteFilesIn(folder, &error)) {
        rc.WriteLog(rc.msg("strMsgCantDeleteFilesFromTemp1") + folder +
                    rc.msg("strMsgCantDeleteFilesFromTemp2") + " (" + error + ")");
        return false;
    }
    return true;
}

}  // namespace kestrel
