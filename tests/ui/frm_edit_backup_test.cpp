// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_edit_backup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>

#include "core/language_file.h"
#include "foldertree/ctl_file_browser.h"
#include "jobs/schedule_text.h"
#include "runner/job_runner.h"
#include "support/fake_ftp_client.h"
#include "support/job_builder.h"
#include "support/server_process.h"
#include "support/test_context.h"
#include "ui/frm_browse_ftp.h"
#include "ui_frm_edit_backup.h"

namespace kestrel::ui {
namespace {

// Acts on the modal window of type W once its loop runs.
template <class W>
void whenOpen(std::function<void(W&)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        auto* open = qobject_cast<W*>(QApplication::activeModalWidget());
        ASSERT_NE(open, nullptr);
        act(*open);
    });
}

class EditorTest : public ::testing::Test {
protected:
    test::TestContext t;
    test::TempDir disk;  // the folder tree's one drive
    JobRunner runner{*t.ctx};
    LanguageFile language;
    std::vector<std::string> picked;  // what the pickers answer, in turn

    void SetUp() override {
        disk.write("docs/a.txt", "alpha");
        disk.write("docs/sub/b.txt", "beta");
        disk.write("photos/p.jpg", "jpeg");
        std::filesystem::create_directories(disk.file("dest"));
    }
    EditorSeams seams() {
        EditorSeams s;
        s.pickFolder = [this](QWidget*, const QString&) {
            if (picked.empty())
                return std::string();
            std::string answer = picked.front();
            picked.erase(picked.begin());
            return answer;
        };
        s.drives = QStringList{QString::fromStdString(disk.path())};
        return s;
    }
    std::unique_ptr<frmEditBackup> editor() {
        return std::make_unique<frmEditBackup>(*t.ctx, runner, language, seams());
    }
    std::unique_ptr<frmEditBackup> editing(const std::string& name) {
        auto e = editor();
        e->loadJob(*runner.job(name));
        return e;
    }
    // A new job with one source and the local destination, ready to save.
    std::unique_ptr<frmEditBackup> filled(const std::string& name) {
        auto e = editor();
        e->proposeNew(1);
        e->form().txtBackupName->setText(QString::fromStdString(name));
        EXPECT_TRUE(e->addSource(disk.file("docs"), true));
        e->form().txtDestPath->setText(QString::fromStdString(disk.file("dest")));
        return e;
    }
    void addJob(test::JobBuilder& job) {
        ASSERT_EQ(runner.addJob(job.folder(disk.file("docs")).to(disk.file("dest")).build()),
                  RunnerResult::Done);
    }
    std::string lastBox() const { return t.host.boxes.empty() ? "" : t.host.boxes.back().text; }
};

// The job rules are tested in tests/jobs; here a refusal stops the save, and the passwords,
// which only the editor sees, must be typed twice alike and are never left out.
TEST_F(EditorTest, ARefusedJobIsNotSavedAndAPasswordMustBeTypedTwiceAlike) {
    auto e = filled("my-backup");
    ASSERT_TRUE(e->saveJob()) << lastBox();
    EXPECT_EQ(e->savedName(), "mybackup");
    ASSERT_EQ(runner.job("mybackup")->Files.size(), 1u);
    EXPECT_EQ(runner.job("mybackup")->Files[0]->bForD, kSourceFolder);
    EXPECT_FALSE(filled("My-Backup")->saveJob());
    EXPECT_EQ(lastBox(), "Backup name already exists!");

    auto secret = filled("Secret");
    secret->showPage(3);
    secret->form().chkPassword->setChecked(true);
    EXPECT_FALSE(secret->saveJob()) << "no password at all";
    secret->form().txtPass1->setText("Kestrel");
    secret->form().txtPass2->setText("kestrel");
    EXPECT_FALSE(secret->saveJob());
    EXPECT_EQ(lastBox(), "The two passwords differ!");
    EXPECT_EQ(secret->form().tabs->currentIndex(), 1);
    EXPECT_EQ(runner.jobs().count(), 1u);
    secret->form().txtPass2->setText("Kestrel");
    ASSERT_TRUE(secret->saveJob()) << lastBox();
    EXPECT_TRUE(runner.job("Secret")->Protected);
    EXPECT_EQ(runner.job("Secret")->password, "Kestrel");
}

TEST_F(EditorTest, ASplitSizeNotInTheTableSurvivesASaveAndPlainCopiesStoreNone) {
    auto e = filled("Volumes");
    e->form().optAT_2->setChecked(true);
    e->form().cmbsplit->setCurrentIndex(e->form().cmbsplit->findText("800 MB  (CD-ROM)"));
    ASSERT_TRUE(e->saveJob()) << lastBox();
    EXPECT_EQ(runner.job("Volumes")->splitSize, 800 << 20);

    // A size the command line chose is kept.
    auto odd = runner.job("Volumes")->clone();
    odd->splitSize = 5'000'000;
    ASSERT_EQ(runner.changeJob("Volumes", std::move(odd)), RunnerResult::Done);
    auto again = editing("Volumes");
    ASSERT_TRUE(again->saveJob()) << lastBox();
    EXPECT_EQ(runner.job("Volumes")->splitSize, 5'000'000);

    auto plain = editing("Volumes");
    plain->form().optAT_0->setChecked(true);
    ASSERT_TRUE(plain->saveJob()) << lastBox();
    EXPECT_FALSE(runner.job("Volumes")->archived);
    EXPECT_EQ(runner.job("Volumes")->splitSize, 0);
}

TEST_F(EditorTest, TheTreesChecksAndTheSourceRowsAreOneSelection) {
    auto e = editor();
    e->proposeNew(3);
    ctlFileBrowser& tree = e->folderTree();
    ASSERT_TRUE(tree.CheckDir(QString::fromStdString(disk.file("docs/a.txt"))));
    EXPECT_EQ(e->sourcePaths(), (std::vector<std::string>{disk.file("docs/a.txt")}));
    ASSERT_TRUE(tree.setChecked(QString::fromStdString("f@" + disk.file("docs/a.txt")), false));
    EXPECT_TRUE(e->sourcePaths().empty());

    // A folder added with the button is checked in the tree, once.
    picked = {disk.file("photos"), disk.file("photos")};
    e->form().cmdAddFolder->click();
    const auto checked = tree.GetCheckedItems();
    ASSERT_EQ(checked.size(), 1u);
    EXPECT_EQ(checked[0].Key.toStdString(), "d@" + disk.file("photos"));
    e->form().cmdAddFolder->click();
    EXPECT_EQ(lastBox(), "File already added!");
    EXPECT_EQ(e->sourcePaths().size(), 1u);

    // Removing the row clears the check.
    e->form().lvFiles->setCurrentItem(e->form().lvFiles->topLevelItem(0));
    e->form().cmdDeleteFile->click();
    EXPECT_TRUE(tree.GetCheckedItems().empty());

    // What lies in a listed folder would be stored twice: it is refused, in the list and in
    // the tree, and a folder takes the place of the rows below it.
    ASSERT_TRUE(e->addSource(disk.file("docs/sub"), true));
    ASSERT_TRUE(tree.CheckDir(QString::fromStdString(disk.file("docs/a.txt"))));
    EXPECT_TRUE(e->addSource(disk.file("docs"), true));
    EXPECT_EQ(e->sourcePaths(), std::vector<std::string>{disk.file("docs")});
    EXPECT_EQ(tree.GetCheckedItems().size(), 1u);
    EXPECT_FALSE(e->addSource(disk.file("docs/sub/b.txt"), false));
    EXPECT_EQ(lastBox(),
              disk.file("docs/sub/b.txt") + " is already covered by " + disk.file("docs") + "!");
    (void)tree.CheckDir(QString::fromStdString(disk.file("docs/sub")));
    EXPECT_EQ(tree.GetCheckedItems().size(), 1u);
    EXPECT_TRUE(e->addSource(disk.file("docs") + "2", true));  // a sibling, not a child
    EXPECT_EQ(e->sourcePaths().size(), 2u);
}

TEST_F(EditorTest, AStoredJobComesBackIntoTheControlsAndIsSavedUnchanged) {
    auto job = test::JobBuilder("Weekly")
                   .folder(disk.file("docs"))
                   .file(disk.file("photos/p.jpg"))
                   .to(disk.file("dest"))
                   .archive()
                   .compressed()
                   .incremental()
                   .masks("*.txt", "*.tmp")
                   .build();
    job->Files[1]->dSize = 4;
    ScheduleTextError error = ScheduleTextError::None;
    job->Schedule =
        parseScheduleSpec("daily:mon,fri@08:00", *DateTime::fromParts(2026, 1, 5, 7, 30), &error);
    ASSERT_EQ(runner.addJob(std::move(job)), RunnerResult::Done);
    const std::string before = test::readAll(t.ctx->storePath());

    auto e = editing("Weekly");
    // The stored sources are checked in the tree, the folders on the way opened.
    const auto checked = e->folderTree().GetCheckedItems();
    ASSERT_EQ(checked.size(), 2u);
    EXPECT_EQ(checked[1].Key.toStdString(), "f@" + disk.file("photos/p.jpg"));
    EXPECT_EQ(e->sourcePaths().size(), 2u) << "checking the tree added no rows twice";
    ASSERT_TRUE(e->saveJob()) << lastBox();
    EXPECT_EQ(test::readAll(t.ctx->storePath()), before);

    // Switching the schedule off stores no schedule, so that it stays off after a restart.
    auto off = editing("Weekly");
    off->form().chkEnableSchedule->setChecked(false);
    ASSERT_TRUE(off->saveJob());
    ASSERT_TRUE(runner.readJobs());
    EXPECT_EQ(runner.job("Weekly")->Schedule, nullptr);
}

TEST_F(EditorTest, AMonthlyScheduleOnTheLastDayAndADailyOneOnNoDay) {
    auto e = filled("Monthly");
    e->form().chkEnableSchedule->setChecked(true);
    e->form().Option1_2->setChecked(true);
    e->form().cmbDays->setCurrentIndex(31);
    e->form().dtMonthlyHour->setTime(QTime(23, 15));
    e->form().dtDay->setDate(QDate(2026, 12, 1));
    e->form().dtHour->setTime(QTime(6, 0));
    ASSERT_TRUE(e->saveJob()) << lastBox();
    const clsSchedule& s = *runner.job("Monthly")->Schedule;
    EXPECT_EQ(s.Tip, kScheduleMonthly);
    EXPECT_EQ(s.Data, 31);
    EXPECT_EQ(s.StartHour.hour(), 23);
    EXPECT_EQ(s.StartHour.minute(), 15);
    EXPECT_EQ(s.start, *DateTime::fromParts(2026, 12, 1, 6, 0));

    // Every day ticks the seven boxes; a daily backup on no day is refused.
    auto daily = filled("Daily");
    daily->form().chkEnableSchedule->setChecked(true);
    daily->form().Option1_1->setChecked(true);
    daily->form().chkEveryDay->click();
    EXPECT_TRUE(daily->form().chkdays_3->isChecked());
    daily->form().chkdays_3->setChecked(false);
    EXPECT_FALSE(daily->form().chkEveryDay->isChecked());
    daily->form().chkEveryDay->click();
    daily->form().chkEveryDay->click();
    EXPECT_FALSE(daily->form().chkdays_6->isChecked());
    EXPECT_FALSE(daily->saveJob());
    EXPECT_EQ(lastBox(), "Choose at least one day for the daily backup!");
    EXPECT_EQ(daily->form().tabs->currentIndex(), 3);
}

TEST_F(EditorTest, AProtectedJobOpensOnlyWithItsPasswordAndCancelChangesNothing) {
    addJob(test::JobBuilder("Vault").archive().password("Open"));
    EXPECT_FALSE(EditJob(nullptr, *t.ctx, runner, language, seams(), "Vault", 0,
                         [](const std::string&) { return false; }));
    EXPECT_EQ(lastBox(), "Wrong password for editing Vault!");
    EXPECT_FALSE(t.loggedContaining("Modifing"));

    // With the password the editor opens on the asked page; Cancel asks before it drops a
    // change, and leaves the job as it was.
    int page = -1;
    t.host.answers = {MsgAnswer::No, MsgAnswer::Yes};
    whenOpen<frmEditBackup>([&](frmEditBackup& open) {
        page = open.form().tabs->currentIndex();
        open.form().chkCompress->setChecked(true);
        open.form().cmdCancelBackup->click();
        EXPECT_TRUE(open.isVisible()) << "kept after No";
        open.form().cmdCancelBackup->click();
    });
    EXPECT_FALSE(EditJob(nullptr, *t.ctx, runner, language, seams(), "Vault", 2,
                         [](const std::string& expected) { return expected == "Open"; }));
    EXPECT_EQ(page, 2);
    EXPECT_TRUE(t.logged("Password OK for editing Vault!"));
    EXPECT_TRUE(t.logged("Modifing Vault parameters ..."));
    EXPECT_FALSE(runner.job("Vault")->bZipped);
    EXPECT_EQ(lastBox(), "Discard the changes to this backup?");
}

// A protected plain-copy job (made by kestrel-cli) keeps its password through the editor, whose
// copy page hides the password frame: an edit never drops the protection unasked.
TEST_F(EditorTest, AProtectedPlainCopyJobKeepsItsPasswordThroughAnEdit) {
    addJob(test::JobBuilder("Copies").password("Open"));
    whenOpen<frmEditBackup>([](frmEditBackup& open) {
        EXPECT_FALSE(open.form().chkPassword->isVisibleTo(&open));
        open.form().cmdModify->click();
    });
    EXPECT_TRUE(EditJob(nullptr, *t.ctx, runner, language, seams(), "Copies", 0,
                        [](const std::string& expected) { return expected == "Open"; }))
        << lastBox();
    EXPECT_TRUE(runner.job("Copies")->Protected);
    EXPECT_EQ(runner.job("Copies")->password, "Open");
}

// A job whose stored password cannot be read: Edit asks first whether to give it a new one, and
// then takes the two password boxes alone.
TEST_F(EditorTest, ALockedJobTakesOnlyANewPasswordAndOnlyAfterTheUserAgrees) {
    addJob(test::JobBuilder("Vault").archive().compressed().password("Open"));
    test::setStoredValue(t.ctx->storePath(), "Vault", "Protected", "79,,112");
    ASSERT_TRUE(runner.readJobs());
    const std::string content = test::readAll(t.ctx->storePath());
    const auto never = [](const std::string&) {
        ADD_FAILURE() << "a locked job has no password to ask for";
        return true;
    };
    t.host.answers = {MsgAnswer::No};
    EXPECT_FALSE(EditJob(nullptr, *t.ctx, runner, language, seams(), "Vault", 2, never));
    EXPECT_EQ(lastBox(), t.ctx->messages.format("strMsgAskNewPassword", {{"%d", "Vault"}}));
    EXPECT_EQ(test::readAll(t.ctx->storePath()), content);

    // Yes: the password boxes alone; two different passwords are refused, the same one unlocks.
    bool othersLocked = false;
    whenOpen<frmEditBackup>([&](frmEditBackup& open) {
        Ui::frmEditBackup& f = open.form();
        othersLocked = open.passwordOnly() && f.tabs->currentIndex() == 1 &&
                       !f.tabBackup->isEnabled() && !f.tabDestination->isEnabled() &&
                       !f.tabSchedule->isEnabled() && !f.Frame2->isEnabled() &&
                       !f.chkPassword->isEnabled() && f.txtPass1->text().isEmpty();
        f.txtPass1->setText("New");
        f.txtPass2->setText("new");
        f.cmdSaveBackup->click();
        EXPECT_TRUE(runner.job("Vault")->passwordUnreadable);
        f.txtPass2->setText("New");
        f.cmdSaveBackup->click();
    });
    t.host.answers = {MsgAnswer::Yes};
    EXPECT_TRUE(EditJob(nullptr, *t.ctx, runner, language, seams(), "Vault", 2, never));
    EXPECT_TRUE(othersLocked);
    const auto unlocked = runner.job("Vault");
    EXPECT_FALSE(unlocked->passwordUnreadable);
    EXPECT_EQ(unlocked->password, "New");
    EXPECT_TRUE(unlocked->bZipped);
    EXPECT_EQ(unlocked->Files.size(), 1u);
}

TEST_F(EditorTest, TestConnectionTellsWhatTheServerDid) {
    auto e = editor();
    Ui::frmEditBackup& f = e->form();
    f.Option2_1->setChecked(true);
    f.txtIP->setText("127.0.0.1");
    f.txtUsername->setText("user");

    // A refused login is told from a good one.
    test::PyFtpServer server;
    ASSERT_EQ(server.unavailable(), "");
    f.txtPort->setText(QString::number(server.port()));
    const std::pair<const char*, std::string> logins[] = {
        {"wrong", "127.0.0.1 refused the login of user!"},
        {"secret", "Logged in to 127.0.0.1 as user. The server's start folder is /"},
    };
    for (const auto& [password, told] : logins) {
        f.txtPassword->setText(password);
        f.cmdTestFTP->click();
        EXPECT_EQ(lastBox(), told);
    }

    // Nobody listens at that port: Test connection and the desktop's browser say so, and why.
    f.txtPort->setText(QString::number(test::freePort()));
    const std::string refused =
        "Can't connect to ftp server!\n\nFAIL: No connection to the ftp "
        "server: cannot connect to 127.0.0.1:" +
        f.txtPort->text().toStdString() + ": Connection refused";
    f.cmdTestFTP->click();
    EXPECT_EQ(lastBox(), refused);
    t.host.boxes.clear();
    const FtpFields fields{"127.0.0.1", f.txtPort->text().toInt(), "user", "secret", true, false,
                           ""};
    EXPECT_FALSE(desktopEditorSeams(*t.ctx, language, {}).browseRemote(nullptr, fields));
    EXPECT_EQ(lastBox(), refused);
}

// Plain FTP beyond the local network is warned about on the page; a certificate that Test
// connection could not trust is pinned when the user says so, and the TLS settings are saved.
TEST_F(EditorTest, TlsIsChosenAndAnUntrustedCertificateIsPinnedOnlyWhenTheUserTrustsIt) {
    test::FakeRemote remote;
    remote.fingerprint = std::string(64, 'e');
    EditorSeams s = seams();
    s.ftpSession = test::fakeFtpFactory(remote);
    frmEditBackup e(*t.ctx, runner, language, s);
    e.proposeNew(1);
    Ui::frmEditBackup& f = e.form();
    f.txtBackupName->setText("Remote");
    ASSERT_TRUE(e.addSource(disk.file("docs"), true));
    f.Option2_1->setChecked(true);
    for (const auto& [host, tls, warned] :
         {std::tuple{"192.0.2.7", false, true}, std::tuple{"192.0.2.7", true, false},
          std::tuple{"192.168.1.20", false, false}}) {
        f.txtIP->setText(host);
        f.chkTls->setChecked(tls);
        emit f.txtIP->editingFinished();
        EXPECT_EQ(!f.lblClearText->isHidden(), warned) << host << tls;
        EXPECT_EQ(f.txtTlsPin->isEnabled(), tls);
    }
    f.chkTls->setChecked(true);
    f.txtTlsPin->setText("not a fingerprint");
    EXPECT_FALSE(e.saveJob());
    EXPECT_EQ(lastBox(), t.ctx->msg("strMsgBadTlsPin"));
    f.txtTlsPin->clear();

    t.host.answers = {MsgAnswer::No};
    f.cmdTestFTP->click();
    EXPECT_TRUE(f.txtTlsPin->text().isEmpty());
    EXPECT_NE(t.host.boxes.at(t.host.boxes.size() - 2).text.find(remote.fingerprint),
              std::string::npos);
    EXPECT_EQ(lastBox(), "Can't connect to ftp server!");
    t.host.answers = {MsgAnswer::Yes};
    f.cmdTestFTP->click();
    EXPECT_EQ(f.txtTlsPin->text().toStdString(), remote.fingerprint);
    EXPECT_NE(lastBox().find("Logged in to 192.168.1.20"), std::string::npos) << lastBox();

    ASSERT_TRUE(e.saveJob()) << lastBox();
    EXPECT_TRUE(runner.job("Remote")->objDestination->bTls);
    EXPECT_EQ(runner.job("Remote")->objDestination->sTlsPin, remote.fingerprint);
}

}  // namespace
}  // namespace kestrel::ui
