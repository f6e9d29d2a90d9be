// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_main.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <map>

#include "core/app_context.h"
#include "core/language_file.h"
#include "support/job_builder.h"
#include "support/test_context.h"
#include "ui/job_row.h"
#include "ui_frm_main.h"

namespace kestrel::ui {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    test::TestContext t{true};
    test::TempDir src;
    test::TempDir dest;
    JobRunner runner{*t.ctx};
    LanguageFile language;
    std::vector<std::string> calls;
    std::function<bool(const std::string&)> password = [](const std::string&) { return false; };
    std::unique_ptr<frmMain> window;

    void SetUp() override {
        src.write("tree/a.txt", "alpha");
        MainSeams seams;
        const auto record = [this](const std::string& call) {
            return [this, call] { calls.push_back(call); };
        };
        seams.openEditor = [this](const std::string& job, int page) {
            calls.push_back("edit " + job + " " + std::to_string(page));
        };
        seams.openRestoreBrowser = [this](const std::string& job) {
            calls.push_back("browse " + job);
        };
        seams.openSettings = record("settings");
        seams.openAbout = record("about");
        seams.openHelp = [this](const std::string& page) { calls.push_back("help " + page); };
        seams.askPassword = [this](const std::string& expected) { return password(expected); };
        seams.openFile = [this](const std::string& path) { calls.push_back("open " + path); };
        seams.quit = [this](bool ask) { calls.push_back(ask ? "quit?" : "quit"); };
        window = std::make_unique<frmMain>(
            *t.ctx, runner, [this]() -> const LanguageFile& { return language; }, seams);
    }

    void add(const std::string& name, bool archived, const std::string& pw = "") {
        JobProblem problem;
        ASSERT_EQ(runner.addJob(test::JobBuilder(name)
                                    .folder(src.file("tree"))
                                    .to(dest.path())
                                    .archive(archived)
                                    .password(pw)
                                    .build(),
                                &problem),
                  RunnerResult::Done)
            << runner.refusalText(RunnerResult::Invalid, "", problem);
    }
    QTreeWidget& list() { return *window->form().ListView1; }
    QTreeWidgetItem* row(int i) { return list().topLevelItem(i); }
};

// A failed run must not look like a good one, nor an old run like none.
TEST_F(MainWindowTest, TheStatusIconAndLastRunTellFailuresAndNeverRunJobs) {
    // Failed beats ftp, never run is unknown.
    const std::pair<int, const char*> icons[] = {{kStatusFailed, "fail"},
                                                 {kStatusAborted, "fail"},
                                                 {kStatusOk, "ftp"},
                                                 {kStatusNeverRun, "unknown"}};
    clsBackup probe;
    probe.destFTP = true;
    for (const auto& [status, key] : icons) {
        probe.enumStatus = status;
        EXPECT_EQ(jobIconKey(probe), key) << status;
    }
    // A job whose password cannot be read is refused by the runner (tests/runner); its row says so.
    probe.passwordUnreadable = true;
    EXPECT_EQ(jobIconKey(probe), "locked");
    // An unset date far from now is "Never", a real one eleven years back is not.
    probe.lastOK = *DateTime::fromParts(2015, 12, 7);
    EXPECT_EQ(lastRunText(probe, *DateTime::fromParts(2026, 12, 7), t.ctx->messages), "Never");
    probe.lastOK = *DateTime::fromParts(2016, 1, 1);
    EXPECT_NE(lastRunText(probe, *DateTime::fromParts(2026, 12, 7), t.ctx->messages), "Never");
}

TEST_F(MainWindowTest, DeletingAProtectedJobTakesTheQuestionAndThePassword) {
    add("Locked", true, "Secret");
    add("Open", false);
    window->UpdateForm();
    window->selectJob("Locked");
    t.host.answers = {MsgAnswer::No};
    window->deleteJob();
    EXPECT_EQ(t.host.boxes.back().text, "Do you really want to delete this backup?");
    EXPECT_EQ(runner.jobs().count(), 2u) << "No to the question keeps the job";
    t.host.answers = {MsgAnswer::Yes};
    window->deleteJob();
    EXPECT_EQ(list().topLevelItemCount(), 2);
    EXPECT_EQ(t.host.boxes.back().text, "Wrong password for deleting Locked!");

    password = [](const std::string& expected) { return expected == "Secret"; };
    t.host.answers = {MsgAnswer::Yes};
    window->selectJob("Locked");
    window->deleteJob();
    ASSERT_EQ(list().topLevelItemCount(), 1);
    EXPECT_EQ(row(0)->text(0), "Open");
}

// Every control of a command (toolbar key, menu items, button of layout 0, key of the list) does
// what the others do. What a run refuses, the runner refuses whatever the window offers
// (tests/runner).
TEST_F(MainWindowTest, TheControlsOfACommandDoTheSame) {
    const std::vector<std::vector<std::string>> commands = {
        {"keyNew", "mniNewBackup", "cmdNew", "Insert"},
        {"keyEdit", "mniEditBackup", "cmdEdit", "Return", "Space", "double click"},
        {"keyDelete", "mniDeleteBackup", "cmdDelete", "Delete"},
        {"keyBackup", "mniBackup1", "cmdBackup"},
        {"keyRestore", "mniRestorFiles", "cmdRestore"},
        {"keyClose", "mniQuit", "mniExit", "cmdClose"},
        {"mniMinimize", "cmdSaveandClose"},
        {"keyLog", "StatusBar1Panel2"},
        {"mniProgramSetings"},
        {"mniSource"},
    };
    const std::map<std::string, Qt::Key> keys = {{"Insert", Qt::Key_Insert},
                                                 {"Return", Qt::Key_Return},
                                                 {"Space", Qt::Key_Space},
                                                 {"Delete", Qt::Key_Delete}};
    struct Runs : RunnerObserver {
        std::vector<std::string>* calls;
        void activityStarted(const Activity& a) override { calls->push_back("run " + a.job); }
    } runs;
    runs.calls = &calls;
    runner.addObserver(&runs);
    add("Docs", false);
    window->show();
    window->selectJob("Docs");
    window->ShowRestorecommands();

    const auto press = [&](const std::string& control) {
        t.host.answers = {MsgAnswer::No};
        const QString name = QString::fromStdString(control);
        if (auto key = keys.find(control); key != keys.end()) {
            QTest::keyClick(&list(), key->second);
        } else if (control == "double click") {
            const QRect at = list().visualItemRect(row(0));
            // A double click is a press and release, then the second press.
            QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, at.center());
            QTest::mouseDClick(list().viewport(), Qt::LeftButton, {}, at.center());
        } else if (auto* action = window->findChild<QAction*>(name)) {
            action->trigger();
        } else if (auto* button = window->findChild<QAbstractButton*>(name)) {
            button->click();
        } else {
            QTest::mouseClick(window->findChild<QWidget*>(name), Qt::LeftButton);
        }
    };
    // What a press did: the windows it opened, the runs, the boxes, what it hid or showed.
    const auto pressed = [&](const std::string& control) {
        calls.clear();
        t.host.boxes.clear();
        const bool log = window->logVisible();
        press(control);
        std::string what = ::testing::PrintToString(calls);
        for (const auto& box : t.host.boxes)
            what += " box " + box.text;
        if (!window->isVisible())
            what += " hidden";
        if (window->logVisible() != log)
            what += " log";
        window->show();
        return what;
    };
    for (const auto& controls : commands) {
        const std::string first = pressed(controls[0]);
        EXPECT_NE(first, "{}") << controls[0] << " did something";
        for (const std::string& control : controls) {
            EXPECT_EQ(pressed(control), first) << control;
        }
    }
    runner.removeObserver(&runs);
}

// From the first start on, what needs a job is offered only while one is selected.
TEST_F(MainWindowTest, JobCommandsFollowTheSelectionAndAnEmptyListSaysWhatToDo) {
    auto& u = window->form();
    window->show();
    const auto jobCommandsOn = [&] {
        std::vector<bool> on;
        for (QAction* a : {u.keyEdit, u.keyDelete, u.keyBackup, u.keyRestore, u.mniSource})
            on.push_back(a->isEnabled());
        for (QPushButton* b : {u.cmdEdit, u.cmdDelete, u.cmdBackup, u.cmdRestore})
            on.push_back(b->isEnabled());
        return std::ranges::count(on, true);
    };
    auto* hint = window->findChild<QLabel*>("lblNoJobs");
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text().toStdString(), t.ctx->msg("strMsgNoJobsYet"));
    EXPECT_EQ(jobCommandsOn(), 0) << "an empty list";
    EXPECT_TRUE(u.keyNew->isEnabled());

    add("Docs", false);
    EXPECT_FALSE(hint->isVisible());
    EXPECT_EQ(jobCommandsOn(), 0) << "nothing selected yet";
    list().setCurrentItem(row(0));
    EXPECT_EQ(jobCommandsOn(), 9) << "selected without a click, as the keyboard or a start does";
    window->UpdateForm();
    EXPECT_EQ(jobCommandsOn(), 9) << "the selection survives a rebuild";
    // A right click beside the rows offers only what needs no job, for that popup only.
    emit list().customContextMenuRequested(QPoint(4, list().viewport()->height() - 4));
    EXPECT_FALSE(u.mniBackup->menuAction()->isEnabled());
    EXPECT_TRUE(u.mniNewBackup->isEnabled());
    u.mnuList->hide();
    EXPECT_TRUE(u.mniBackup->menuAction()->isEnabled()) << "Properties comes back";
    EXPECT_EQ(jobCommandsOn(), 9) << "and so does what the selection offers";
}

// After a restart the log list begins with the end of the log file, start-up lines included; a
// failure box's "Show log" brings it up.
TEST_F(MainWindowTest, TheLogListBeginsWithTheLogFileAndShowLogShowsIt) {
    t.ctx->WriteLog("Kestrel started");
    t.ctx->WriteLog("1 backup items loaded!");
    frmMain fresh(*t.ctx, runner, [this]() -> const LanguageFile& { return language; }, {});
    fresh.flushPending();
    const QListWidget& lines = *fresh.form().List1;
    ASSERT_GE(lines.count(), 2);
    EXPECT_TRUE(lines.item(lines.count() - 2)->text().endsWith("]-Kestrel started"));
    EXPECT_TRUE(lines.item(lines.count() - 1)->text().endsWith("]-1 backup items loaded!"));
    EXPECT_FALSE(fresh.logVisible());
    fresh.showLog();
    EXPECT_TRUE(fresh.isVisible());
    EXPECT_TRUE(fresh.logVisible());
}

// On an XEmbed tray the icon is a top-level window of the program too: it must stay.
TEST_F(MainWindowTest, HidingAllLeavesForeignWindowsAndWithoutATrayQuitsInstead) {
    window->show();
    QWidget trayWindow;
    trayWindow.show();
    window->hideAll();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(trayWindow.isVisible());

    ASSERT_FALSE(window->trayAvailable()) << "offscreen has no tray";
    window->show();
    window->form().cmdSaveandClose->click();
    EXPECT_TRUE(window->isVisible()) << "nothing would bring a hidden window back";
    EXPECT_EQ(calls, std::vector<std::string>{"quit?"});
}

}  // namespace
}  // namespace kestrel::ui
