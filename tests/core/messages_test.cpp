#include "core/messages.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

// The keys of the message table in their fixed order; language files and stored texts rely on it.
constexpr const char* kTableKeys =
    "strMsgRealyCancel, strMsgContinue, strMsgPause, strMsgRealyDeleteFTPDirectory, "
    "strMsgMustSelectAValidPath, strMsgRestoreAborted, strMsgRestoringFiles, "
    "strMsgRestoreProgressCaption, strMsgCantOpenArchiveToRestore, "
    "strMsgCantOpenArchiveToRestore2, strMsgCantCreateDirectory, strMsgPathToRestoreFiles, "
    "strMsgCantOpenFileToRestore, strMsgErrorRetrieveBackupData, strMsgNrRestoredFiles, "
    "strMsgNoFilesToRestore, strMsgFileAlreadyAdded, strMsgSelectFolderToBackup, "
    "strMsgNoDirSelected, strMsgBackupNameExists, strMsgDestDirNotExists, strMsgNoSrcToBackup, "
    "strMsgSelectDestFolder, strMsgCantGetDirList, strMsgCantConnectToFTP, "
    "strMsgCantUseThisOptWithFTP, strMsgProgramStarted, strMsgBackupItemsLoaded, "
    "strMsgSuccInstall, strMsgFailInstall, strMsgSuccUninst, strMsgFailUninst, "
    "strMsgSelectBkpFirst, strMsgIncremental, strMsgFull, strMsgCompressed, strMsgTomorrowAt, "
    "strMsgTodayAt, strMsgNotSched, strMsgNever, strMsgRequestPWDel, strMsgWrongPWDel, "
    "strMsgPasswordOkDel, strMsgRealyDelBackup, strMsgPaused, strMsgCantCreateRestList, "
    "strMsgNotStoredLocally, strMsgDownloadFailed, strMsgSearchingForFiles, strMsgSystemVarsError, "
    "strMsgReqPasswdForEdit, strMsgWrongPWDEdit, strMsgPWDOkEdit, strMsgModBackupParam, "
    "strMsgBackupStartedAt, strMsgCreateListFiles, strMsgPerformFilterOp, strMsgListOkContBkp, "
    "strMsgCantDLFileForInc, strMsgCopyToDest, strMsgFailUploadFiles, strMsgBackupProgress, "
    "strMsgNoFilesForBackup, strMsgFilesStored, strMsgFilesNotStored, strMsgTotalFiles, "
    "strMsgBackupFailed, strMsgTermNormally, strMsgBackupMediaFull, strMsgBackupAborted, "
    "strMsgBackupPending, strMsgFileCopyOk, strMsgFileCopyFail, strMsgUploadOk, strMsgUploadFail, "
    "strMsgChangeDirFail, strMsgCreatingBkpArc, strMsgAddedToArcOk, strMsgAddedToArcFail, "
    "strMsgOpenFailed, strMsgQuitAsk, strMsgClosingProgram, strMsgProgramClosed, "
    "strMsgBakupFinishedOk, strMsgCantDeleteFilesFromTemp1, strMsgCantDeleteFilesFromTemp2, "
    "strMsgSplittingFile, strMsgStartedinAt, strMsgContinueIn, strMsgSplitFailed, strMsgArchiving, "
    "strMsgFileExistsOverWrite, strMsgFailedToEnterPassiveMode, strMsgFailCreateDC, "
    "strMsgDownloadingFile, strMsgErrorWritingFile, strMsgDownloadingFrom, strMsgDownloadOK, "
    "strMsgUploadingFile, strMsgUploadingTO, strMsgRFToOrigQ";

TEST(Messages, TableStartsWithTheFixedKeysInOrder) {
    std::vector<std::string> expected;
    for (const std::string& k : text::split(kTableKeys, ',')) {
        expected.emplace_back(text::trimSpace(k));
    }
    ASSERT_EQ(expected.size(), 101u);
    const Messages messages;
    ASSERT_GE(messages.table().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(messages.table()[i].Nam, expected[i]) << "row " << i;
        EXPECT_FALSE(messages.table()[i].Txt.empty()) << expected[i];
    }
    // Every key is there once.
    std::set<std::string> seen;
    for (const clsString& m : messages.table()) {
        EXPECT_TRUE(seen.insert(m.Nam).second) << m.Nam;
    }
}

TEST(Messages, LookupIsExactAndCaseSensitive) {
    const Messages messages;
    EXPECT_EQ(messages.GetMessage("strMsgNever"), "Never");
    EXPECT_EQ(messages.GetMessage("strMsgTomorrowAt"), "Tomorrow at ");
    EXPECT_EQ(messages.GetMessage("strMsgFilesStored"), "Backup files stored:  ");
    EXPECT_EQ(messages.GetMessage("strmsgnever"), "");
    EXPECT_EQ(messages.GetMessage("strMsgNoSuchKey"), "");
}

TEST(Messages, FormatFillsPlaceholdersOnce) {
    const Messages messages;
    EXPECT_EQ(messages.format("strMsgTermNormally", {{"%d", "Daily"}, {"%t", "19:30"}}),
              "Backup Daily terminated normally at 19:30!");
    // A name that itself holds a placeholder is not replaced again.
    EXPECT_EQ(messages.format("strMsgTermNormally", {{"%d", "odd%t"}, {"%t", "19:30"}}),
              "Backup odd%t terminated normally at 19:30!");
    EXPECT_EQ(messages.format("strMsgNrRestoredFiles", {{"%1", "3"}, {"%2", "4"}, {"%d", "/r"}}),
              "3/4 files restored to /r!");
}

TEST(Messages, LanguageFileOverridesOnlyNonEmptyValues) {
    test::TempDir dir;
    const std::string longText(3000, 'x');
    const std::string lng = dir.write(
        "Languages/test.lng",
        "[msgStrings]\r\nstrMsgNever=\r\nstrMsgFull=  Voll  \r\nstrMsgTodayAt=\"  Heute \"\r\n"
        "strMsgPause=" +
            longText + "\r\nstrmsgcontinue=Weiter\r\nstrMsgPaused=Halt" + std::string(1, '\0') +
            "ignored\r\n");
    Messages messages;
    messages.FillMessages(lng);
    EXPECT_EQ(messages.GetMessage("strMsgNever"), "Never");
    EXPECT_EQ(messages.GetMessage("strMsgFull"), "Voll");
    EXPECT_EQ(messages.GetMessage("strMsgTodayAt"), "  Heute ");
    // No 1,024-character limit on a translated text.
    EXPECT_EQ(messages.GetMessage("strMsgPause"), longText);
    // Keys in the file match without case.
    EXPECT_EQ(messages.GetMessage("strMsgContinue"), "Weiter");
    EXPECT_EQ(messages.GetMessage("strMsgPaused"), "Halt");

    messages.FillMessages(dir.file("Languages/missing.lng"));
    EXPECT_EQ(messages.GetMessage("strMsgFull"), "Full");
}

}  // namespace
}  // namespace kestrel
