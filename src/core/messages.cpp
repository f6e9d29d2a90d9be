// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/messages.h"

#include "core/language_file.h"
#include "platform/text.h"

namespace kestrel {

const std::vector<MessageDefault>& defaultMessages() {
    static const std::vector<MessageDefault> kTable = {
        {"strMsgRealyCancel", "Do you really want to cancel the backup/restore process!"},
        {"strMsgContinue", "Continue"},
        {"strMsgPause", "Pause"},
        {"strMsgRealyDeleteFTPDirectory",
         "Do you really want to delete the remote directory [%d]?"},
        {"strMsgMustSelectAValidPath",
         "You must select a valid path to restore files! Do you want to continue?"},
        {"strMsgRestoreAborted", "Restore of files aborted by user!"},
        {"strMsgRestoringFiles", "Restoring files ..."},
        {"strMsgRestoreProgressCaption", "Restoring from [%d vol: %i ]"},
        {"strMsgCantOpenArchiveToRestore", "Cannot open %d archive restore!"},
        {"strMsgCantOpenArchiveToRestore2", "Cannot read %d archive to restore!"},
        {"strMsgCantCreateDirectory", "Can't create directory!"},
        {"strMsgPathToRestoreFiles", "Select path to restore files"},
        {"strMsgCantOpenFileToRestore", "Cannot open %d file to restore!"},
        {"strMsgErrorRetrieveBackupData", "Error retrieving backup data!"},
        {"strMsgNrRestoredFiles", "%1/%2 files restored to %d!"},
        {"strMsgNoFilesToRestore", "No files were selected to restore!"},
        {"strMsgFileAlreadyAdded", "File already added!"},
        {"strMsgSelectFolderToBackup", "Select folder to backup"},
        {"strMsgNoDirSelected", "No file or directory selected!"},
        {"strMsgBackupNameExists", "Backup name already exists!"},
        {"strMsgDestDirNotExists", "Destination directory does not exists!"},
        {"strMsgNoSrcToBackup", "No source to backup!"},
        {"strMsgSelectDestFolder", "Select destination folder"},
        {"strMsgCantGetDirList", "Can't get directory list!"},
        {"strMsgCantConnectToFTP", "Can't connect to ftp server!"},
        {"strMsgCantUseThisOptWithFTP", "You can't use this option with ftp destination!"},
        {"strMsgProgramStarted", "Kestrel started ..."},
        {"strMsgBackupItemsLoaded", "%d backup items loaded!"},
        {"strMsgSuccInstall", "%s service installed!"},
        {"strMsgFailInstall", "%s failed to install!"},
        {"strMsgSuccUninst", "%s uninstalled!"},
        {"strMsgFailUninst", "%s failed to uninstall!"},
        {"strMsgSelectBkpFirst", "Please select a backup first!"},
        {"strMsgIncremental", "Incremental"},
        {"strMsgFull", "Full"},
        {"strMsgCompressed", "Compressed"},
        {"strMsgTomorrowAt", "Tomorrow at "},
        {"strMsgTodayAt", "Today at"},
        {"strMsgNotSched", "Not scheduled"},
        {"strMsgNever", "Never"},
        {"strMsgRequestPWDel", "Requesting  password for deleting %d..."},
        {"strMsgWrongPWDel", "Wrong password for deleting %d!"},
        {"strMsgPasswordOkDel", "Password OK for deleting %d!"},
        {"strMsgRealyDelBackup", "Do you really want to delete this backup?"},
        {"strMsgPaused", "Paused"},
        {"strMsgCantCreateRestList", "Failed to create restore list!"},
        {"strMsgNotStoredLocally", "Files were not stored locally. Proceed to download!"},
        {"strMsgDownloadFailed", "FAIL: Download of %d failed!"},
        {"strMsgSearchingForFiles", "Searching for files ..."},
        {"strMsgSystemVarsError", "Could not initialize system variables! Quitting ..."},
        {"strMsgReqPasswdForEdit", "Requesting for password for editing %d ..."},
        {"strMsgWrongPWDEdit", "Wrong password for editing %d!"},
        {"strMsgPWDOkEdit", "Password OK for editing %d!"},
        {"strMsgModBackupParam", "Modifing %d parameters ..."},
        {"strMsgBackupStartedAt", "Backup started at ..."},
        {"strMsgCreateListFiles", "Creating list of files ..."},
        {"strMsgPerformFilterOp", "Performing filter operations ..."},
        {"strMsgListOkContBkp", "List of files created. Continue backup ..."},
        {"strMsgCantDLFileForInc", "FAIL: Can't download fs file to perform incremental backup!"},
        {"strMsgCopyToDest", "Copy files to destination ..."},
        {"strMsgFailUploadFiles", "FAIL: Connection to ftp server failed! Can't upload files!"},
        {"strMsgBackupProgress", "Backup progress ..."},
        {"strMsgNoFilesForBackup", "No files were found for backup!"},
        {"strMsgFilesStored", "Backup files stored:  "},
        {"strMsgFilesNotStored", "Not stored:   "},
        {"strMsgTotalFiles", "Total backup files count: "},
        {"strMsgBackupFailed", "Backup of %d failed!"},
        {"strMsgTermNormally", "Backup %d terminated normally at %t!"},
        {"strMsgBackupMediaFull", "Backup media is full! Cannot continue!"},
        {"strMsgBackupAborted", "Backup aborted by user!"},
        {"strMsgBackupPending", "Backup process pending!"},
        {"strMsgFileCopyOk", "OK: Copy of %s to %d"},
        {"strMsgFileCopyFail", "FAIL: Copy of %s to %d"},
        {"strMsgUploadOk", "OK: Upload of file %d succeeded!"},
        {"strMsgUploadFail", "FAIL: Upload of file %d failed!"},
        {"strMsgChangeDirFail", "FAIL: Failed to change directory to %d!"},
        {"strMsgCreatingBkpArc", "Creating backup archive ..."},
        {"strMsgAddedToArcOk", "OK: %d added to archive"},
        {"strMsgAddedToArcFail", "FAIL: Addding %d  to archive failed!"},
        {"strMsgOpenFailed", "FAIL: %d can't be opened!"},
        {"strMsgQuitAsk", "Do you really want to quit?"},
        {"strMsgClosingProgram", "Closing program ..."},
        {"strMsgProgramClosed", "Program closed!"},
        {"strMsgBakupFinishedOk", "Backup of %d finished succesfully!"},
        {"strMsgCantDeleteFilesFromTemp1", "Can't delete the files in the temporary folder "},
        {"strMsgCantDeleteFilesFromTemp2", "! Please delete them before the next backup."},
        {"strMsgSplittingFile", "Splitting file ..."},
        {"strMsgStartedinAt", "Backup %d started at %t"},
        {"strMsgContinueIn", "Continue in %d seconds ..."},
        {"strMsgSplitFailed", "File split failed!"},
        {"strMsgArchiving", "Archiving "},
        {"strMsgFileExistsOverWrite", "The file %d already exists! Do you want to overwrite?"},
        {"strMsgFailedToEnterPassiveMode", "Failed to enter passive mode!"},
        {"strMsgFailCreateDC", "Failed to create data connection!"},
        {"strMsgDownloadingFile", "Downloading file"},
        {"strMsgErrorWritingFile", "Error writing to file!"},
        {"strMsgDownloadingFrom", "Downloading from %h"},
        {"strMsgDownloadOK", "OK: File %f downloaded!"},
        {"strMsgUploadingFile", "Uploading file"},
        {"strMsgUploadingTO", "Uploading to %h"},
        {"strMsgRFToOrigQ", "Do you want to restore files to original folder?"},
        // Conditions the table above has no text for: a damaged or unwritable job store.
        {"strMsgStoreLineSkipped", "Job store: skipped a damaged line of [%d]: %s"},
        {"strMsgStoreCopyKept", "The job store was damaged; its original content is kept as %d"},
        {"strMsgStoreReadFailed", "Cannot read the job store: %s"},
        {"strMsgStoreWriteFailed", "Cannot write the job store: %s"},
        {"strMsgStoreJobsUnreadable",
         "Not one job of the job store %d can be read; it is left as it is until it is mended or "
         "moved aside"},
        // Conditions of a run the table above has no text for.
        {"strMsgJobNotFound", "No backup named %d!"},
        {"strMsgSkippedNotRegular", "Skipped %d: not a regular file"},
        {"strMsgSkippedFolderLink", "Skipped %d: a link to a folder is not followed"},
        {"strMsgCantReadFolder", "FAIL: Can't read folder %d: %s"},
        {"strMsgEncryptFailed", "FAIL: Encryption of %d failed: %s"},
        {"strMsgDecryptFailedFull", "FAIL: Can't decrypt %d (%s)! A full backup is made."},
        {"strMsgFilesNotAdded", "FAIL: %d file(s) could not be added to the archive!"},
        // Conditions of a restore the table above has no text for.
        {"strMsgRestoreDecryptFailed", "FAIL: Can't decrypt %d: %s"},
        {"strMsgCatalogueLinesSkipped", "%d damaged line(s) of the catalogue were skipped!"},
        {"strMsgCatalogueLineSkipped", "Catalogue %d: damaged line %i skipped"},
        {"strMsgRestoreUnsafePath", "FAIL: %d would be restored outside the chosen folder!"},
        {"strMsgRestoreFileFailed", "FAIL: %d not restored: %s"},
        {"strMsgRestoreFlushFailed", "FAIL: the restored files could not be written to disk: %s"},
        {"strMsgRestoreKept", "%d exists and was kept"},
        {"strMsgRestoredOk", "OK: %d restored"},
        // Texts of the FTP session and the engine that the table above has no key for.
        {"strMsgNoWelcome", "Couldn't read servers welcome message!"},
        {"strMsgPortCommandFailed", "Port command failed!"},
        {"strMsgUploadSizeMismatch", "FAIL: %d has %s bytes on the server instead of %i!"},
        {"strMsgDownloadSizeMismatch", "FAIL: Download of %d ended after %s of %i bytes!"},
        {"strMsgEncrypting", "Encrypting ..."},
        {"strMsgDecrypting", "Decrypt ..."},
        {"strMsgBackupOf", "Backup %d..."},
        {"strMsgFileAborted", "%d aborted"},
        {"strMsgCantCreateArchive", "FAIL: Can't create the archive in %d: %s"},
        {"strMsgCantCreateWorkFolder", "FAIL: Can't create a working folder in %d: %s"},
        // Why a job cannot be kept as it stands.
        {"strMsgNameEmpty", "The backup needs a name!"},
        {"strMsgNameBlanks", "A backup name must not begin or end with a blank!"},
        {"strMsgNameControl", "A backup name must not hold control characters!"},
        {"strMsgNameBadChars",
         "A backup name must not hold \"[\", \"]\", \"/\" or \"|\", nor begin with \";\"!"},
        {"strMsgNameReserved", "\"Backups\" is the name of the backup list!"},
        {"strMsgSplitNeedsArchive", "Only an archive can be split into volumes!"},
        // What the job runner refuses or notes.
        {"strMsgJobIsActive", "The backup %d is running and can't be changed now!"},
        {"strMsgRunLocked",
         "Another Kestrel program is running a backup in this program folder (%s)! Try again "
         "when it has finished."},
        {"strMsgRunLockFailed", "Can't take the run lock of the program folder: %s"},
        {"strMsgQuitPending", "Kestrel is closing: no new backup or restore is started."},
        {"strMsgStopRequested", "Stop requested (signal %d): the work under way was ended."},
        // What the integrity checks and the replacement of a backup report.
        {"strMsgNoSumsFile",
         "No checksum file %d: files are checked with the catalogue's weak checksum only."},
        {"strMsgSumsDamaged",
         "The checksum file %d is damaged (%s)! Files are checked with the catalogue's weak "
         "checksum only."},
        {"strMsgRestoreDamagedLine",
         "FAIL: %d not restored: its catalogue line is damaged (the checksum file holds no digest "
         "for it)"},
        {"strMsgNameNotStorable",
         "FAIL: %d can't be stored in an archive: its name holds a line break!"},
        {"strMsgSetRecovered", "The interrupted replacement of the backup %d was completed."},
        {"strMsgLeftoverRemoved", "Removed %d, left behind by an interrupted run"},
        {"strMsgLeftoverNotRemoved", "Can't remove %d, left behind by an interrupted run: %s"},
        {"strMsgSetSwitchFailed", "FAIL: Can't put the new backup %d in place: %s"},
        {"strMsgFolderFull", "The disk holding %d is full!"},
        {"strMsgStoreStartFailed",
         "FAIL: Can't write the backup list (%s)! The backup %d is not started, as its outcome "
         "could not be kept."},
        {"strMsgStoreEndFailed",
         "FAIL: Can't write the outcome of the backup %d to the backup list!"},
        {"strMsgDestNotAvailable",
         "FAIL: The destination %d is not available: the disk it lies on is not mounted!"},
        {"strMsgLeftOutDestination", "Left out %d: it is this backup's destination"},
        {"strMsgLeftOutProgramFolder", "Left out %d: it is the program folder"},
        {"strMsgCopiesUnchanged",
         "%d file(s) unchanged since their copy at the destination: not copied again"},
        {"strMsgNrRestoredFilesOriginal", "%1/%2 files restored to their original folders!"},
        {"strMsgNoneRestored",
         "None of the %1 chosen files could be restored (%2 failed, %3 kept): see the log."},
        // Day and month names of the next-run texts.
        {"strMsgMonday", "Monday"},
        {"strMsgTuesday", "Tuesday"},
        {"strMsgWednesday", "Wednesday"},
        {"strMsgThursday", "Thursday"},
        {"strMsgFriday", "Friday"},
        {"strMsgSaturday", "Saturday"},
        {"strMsgSunday", "Sunday"},
        {"strMsgJan", "Jan"},
        {"strMsgFeb", "Feb"},
        {"strMsgMar", "Mar"},
        {"strMsgApr", "Apr"},
        {"strMsgMay", "May"},
        {"strMsgJun", "Jun"},
        {"strMsgJul", "Jul"},
        {"strMsgAug", "Aug"},
        {"strMsgSep", "Sep"},
        {"strMsgOct", "Oct"},
        {"strMsgNov", "Nov"},
        {"strMsgDec", "Dec"},
        // Why a scheduled backup did not start when it was due.
        {"strMsgSchedBlocked",
         "%d was due at %t but not started: scheduled backups are blocked while the main window "
         "is open"},
        {"strMsgSchedBusy",
         "%d is due at %t while another backup runs; it starts when that one ends"},
        {"strMsgSchedAlreadyRan", "%d was due at %t but not started: it already ran for that time"},
        {"strMsgSchedDelayedStart", "Starting %d, which fell due while another backup ran"},
        {"strMsgSchedCatchUp", "%d missed its scheduled run of %t; it runs now"},
        {"strMsgSchedMissed",
         "%d missed its scheduled run of %t: Kestrel was not running or the machine slept"},
        {"strMsgNotYetAvailable", "Not available in this version yet"},
        // Between a weekday date and its time in the next-run texts.
        {"strMsgDateAt", " at "},
        // A headless instance asked for its window by a user starting the program on a desktop.
        {"strMsgOpenWindowOnDesktop", "A desktop asked for the window: Kestrel opens it there"},
        {"strMsgOpenWindowAfterRun",
         "A desktop asked for the window: Kestrel opens it there when the running backup ends"},
        {"strMsgOpenWindowFailed", "Cannot open the window on the desktop: %s"},
        // The backup editor.
        {"strMsgMyComputer", "My Computer"},
        {"strMsgEncryptionTip",
         "Encrypts the backup with authenticated encryption (XChaCha20-Poly1305), its key derived "
         "from the password (Argon2id)"},
        {"strMsgPasswordsDiffer", "The two passwords differ!"},
        {"strMsgPasswordMissing", "Type the password twice, or clear \"Password protected\"!"},
        {"strMsgNoDaysChosen", "Choose at least one day for the daily backup!"},
        {"strMsgDestNotWritable", "Kestrel may not write into %d!"},
        {"strMsgFtpLoginOk", "Logged in to %s as %d. The server's start folder is %t"},
        {"strMsgFtpLoginRefused", "%s refused the login of %d!"},
        {"strMsgServiceLinger",
         "To keep it running while you are not logged in: loginctl enable-linger %s"},
        {"strMsgNoServiceManager",
         "No user service manager (systemd --user) runs here: \"%s\" cannot be carried out."},
        {"strMsgBackupOkAgain", "Backup of %d finished successfully again, after failed runs."},
        {"strMsgAutostartComment", "Runs the scheduled backups and shows Kestrel in the tray"},
        {"strMsgAutostartFailed", "Cannot change the start with the desktop: %s"},
        // The restore browser's status bar: checked files and their size.
        {"strMsgCheckedFiles", "%1 file(s) checked, %2"},
        {"strMsgCantListRemoteFolder", "FAIL: Can't list the remote folder %d!"},
        {"strMsgCatalogueUnusable",
         "FAIL: The catalogue %d cannot be used (%s). It is kept as %k, and this run begins a new "
         "catalogue with a full backup."},
        {"strMsgCatalogueCut",
         "FAIL: The catalogue %d does not end in a complete line: nothing is added to it, and it "
         "is left as it is."},
        {"strMsgCatalogueKept",
         "FAIL: The earlier sessions of %d are kept in %k, where the restore finds them; the new "
         "full backup begins a new catalogue."},
        {"strMsgFileSkipped", "%d skipped (cancelled by the user)"},
        {"strMsgCatalogueLocked",
         "The catalogue %d could not be opened, so its sessions are not listed. One kept from "
         "before a password change needs the password of its time."},
        {"strMsgKeptPasswordPrompt",
         "The catalogue %d does not open with the job's password. Enter the password it was "
         "written with:"},
        {"strMsgSumsForeign",
         "The checksum file %d does not belong to the catalogue beside it and is ignored: its "
         "files are checked by their crc only."},
        {"strMsgCatalogueLinesLost",
         "FAIL: The catalogue %d has lost %i line(s) that its checksum file records (%s): nothing "
         "is added to it, and it is left as it is."},
        {"strMsgCatalogueLinesLostRestore",
         "The catalogue %d has lost %i line(s) that its checksum file records; these files cannot "
         "be restored: %s"},
        {"strMsgRestoreWeakChecked",
         "%i file(s) were checked by the catalogue's crc only, a weak check that misses swapped or "
         "shifted data."},
        {"strMsgJobLocked",
         "The backup %d is locked: its password in the job store cannot be read. It is not run, "
         "changed, deleted or restored until it has a new password (Edit in the main window, or "
         "kestrel-cli edit \"%d\" --password - --reset-protection)."},
        {"strMsgAskNewPassword",
         "The password of %d cannot be read from the job store, so the backup is locked. Set a new "
         "password for it? Its earlier backups stay encrypted with the old password: to restore "
         "them, set that same password again."},
        {"strMsgPasswordReset", "The backup %d has a new password and is no longer locked."},
        {"strMsgJobNotLocked",
         "The backup %d is not locked: its password is changed with its current one."},
        {"strMsgMetaDamaged",
         "The facts file %d cannot be read (%s): its files are restored with their attribute bits "
         "only."},
        {"strMsgRestoreFactsFailed", "%d is restored, but its owner or mode could not be set (%s)"},
        {"strMsgNoJobsYet", "No backup jobs yet: press New to create one"},
        {"strMsgCantOpen", "Can't open %s: no program to show it was found (xdg-open failed)."},
        {"strMsgEarlierFailures", "(%n earlier failure lines are in the log)"},
        {"strMsgFtpConnectError", "FAIL: No connection to the ftp server: %e"},
        {"strMsgFtpClearText",
         "The FTP password and the backed-up data travel unencrypted to %s, which is not on the "
         "local network: anyone on the way can read or change them. Require TLS (FTPS) if the "
         "server offers it."},
        {"strMsgFtpPinHint",
         "The server's certificate has the SHA-256 fingerprint %f; pin it with --ftp-tls-pin %f "
         "if you trust it"},
        {"strMsgFtpTrustCertificate",
         "The certificate of %s is not trusted: no authority vouches for it, or it was made for "
         "another name. Trust it for this backup only if the server's own SHA-256 fingerprint is "
         "this one: %f"},
        {"strMsgBadTlsPin",
         "The trusted certificate must be a SHA-256 fingerprint: 64 hex digits, colons allowed!"},
        {"strMsgFtpTlsRefused",
         "FAIL: The ftp server %h refused TLS (AUTH TLS)! Nothing was sent without encryption."},
        {"strMsgFtpTlsFailed", "FAIL: TLS with the ftp server %h failed: %e"},
        {"strMsgFtpCertUntrusted",
         "FAIL: The certificate of %h is not trusted! Pin its SHA-256 fingerprint %s to trust it."},
        {"strMsgFtpCertChanged",
         "FAIL: The certificate of %h has changed! It is not the pinned one; its SHA-256 "
         "fingerprint is now %s."},
        {"strMsgShowLog", "Show log"},
        {"strMsgRestoreToOriginal", "To the original folder"},
        {"strMsgRestoreElsewhere", "To another folder..."},
        {"strMsgCancel", "Cancel"},
        {"strMsgDiscardChanges", "Discard the changes to this backup?"},
        {"strMsgBlockScheduleTip",
         "Prevents scheduled backup to occur when main window is visible. A backup that falls due "
         "meanwhile is logged as missed; with \"Catch up missed scheduled backups\" it runs once "
         "the window is closed or hidden."},
        {"strMsgSchedWaitWhileOpen", "Scheduled backups wait while this window is open"},
        {"strMsgSourceCovered", "%s is already covered by %d!"},
        {"strMsgSourcesCovered",
         "%s covers %d of the listed sources: they were taken off the list."},
        {"strMsgDayOfMonth", "%d%o"},
        {"strMsgLastDayOfMonth", "Last day! "},
        {"strMsgDateFormat", "dddd, MMM dd"},
        {"strMsgBytes", " bytes"},
        {"strMsgDigitSeparators", ",."},
        {"strMsgLocale", "en"},
        {"strMsgLanguageName", "English"},
    };
    return kTable;
}

Messages::Messages() {
    FillMessages("");
}

void Messages::FillMessages(const std::string& languageFilePath) {
    m_table.clear();
    m_byKey.clear();
    const auto& defaults = defaultMessages();
    m_table.reserve(defaults.size());
    for (const MessageDefault& row : defaults) {
        clsString message;
        message.Fill(row.key, row.text);
        m_table.push_back(std::move(message));
    }
    for (size_t i = 0; i < m_table.size(); ++i) {
        // The first row of a key wins, as with the ordered search.
        m_byKey.try_emplace(m_table[i].Nam, i);
    }
    if (languageFilePath.empty()) {
        return;
    }
    const LanguageFile language(languageFilePath);
    for (clsString& message : m_table) {
        std::string translated = language.profileString("msgStrings", message.Nam);
        if (!translated.empty()) {
            message.Txt = std::move(translated);
        }
    }
}

const std::string& Messages::GetMessage(std::string_view key) const {
    static const std::string kEmpty;
    const auto it = m_byKey.find(std::string(key));
    return it == m_byKey.end() ? kEmpty : m_table[it->second].Txt;
}

std::string Messages::format(
    std::string_view key,
    std::initializer_list<std::pair<std::string_view, std::string_view>> values) const {
    return text::fill(GetMessage(key), values);
}

}  // namespace kestrel
