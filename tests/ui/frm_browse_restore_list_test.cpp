// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_browse_restore_list.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDateTime>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "core/app_context.h"
#include "core/language_file.h"
#include "restore/restore.h"
#include "runner/job_runner.h"
#include "support/fake_ftp_client.h"
#include "support/job_builder.h"
#include "support/test_context.h"
#include "ui/restore_model.h"
#include "ui_frm_browse_restore_list.h"

namespace kestrel::ui {
namespace {

using Names = std::vector<std::string>;

class RestoreBrowserTest : public ::testing::Test {
protected:
    void TearDown() override {
        t.host.onYield = nullptr;
        window.reset();
    }

    void addJob(test::JobBuilder& job) {
        ASSERT_EQ(runner.addJob(job.folder(src.file("tree")).archive().incremental().build()),
                  RunnerResult::Done);
    }
    void backup(const std::string& name = "Daily", int status = kStatusOk) {
        RunSummary summary;
        ASSERT_EQ(runner.RunBackup(name, &summary), RunnerResult::Done);
        ASSERT_EQ(summary.status, status);
        t.clock.advanceSeconds(120);
    }
    void open() {
        ASSERT_EQ(runner.openRestore("Daily", state), RunnerResult::Done);
        RestoreSeams seams;
        seams.pickFolder = [this](QWidget*, const QString& title) {
            pickerTitles.push_back(title.toStdString());
            return picked;
        };
        window = std::make_unique<frmBrowseRestoreList>(*t.ctx, runner, state, language, seams);
        window->show();
    }

    // The node of an original path in a session (0 the first).
    int node(size_t session, const std::string& path) const {
        return state.tree.find(state.tree.node(state.tree.sessions().at(session)).key + "|" + path);
    }
    std::string path(const std::string& relative) const { return src.file("tree/" + relative); }

    Ui::frmBrowseRestoreList& u() { return window->form(); }
    QAbstractItemModel& listModel() { return *window->listView().model(); }
    QModelIndex listRoot() { return window->listView().rootIndex(); }
    QModelIndex listRow(const std::string& name) {
        QAbstractItemModel& m = listModel();
        for (int r = 0; r < m.rowCount(listRoot()); ++r) {
            const QModelIndex at = m.index(r, 0, listRoot());
            if (at.data().toString().toStdString() == name)
                return at;
        }
        return {};
    }
    bool check(const std::string& name, Qt::CheckState state = Qt::Checked) {
        return listModel().setData(listRow(name), state, Qt::CheckStateRole);
    }
    Qt::CheckState drawn(int n) { return window->model().drawnState(n); }
    Names boxTexts() const {
        Names texts;
        for (const auto& box : t.host.boxes)
            texts.push_back(box.text);
        return texts;
    }

    test::TestContext t{true};
    test::TempDir src;
    test::TempDir dest;
    test::TempDir out;
    test::FakeRemote remote;  // the server of FTP jobs
    JobRunner runner{*t.ctx, JobRunner::Options{test::fakeFtpFactory(remote)}};
    LanguageFile language;
    RestoreState state;
    std::string picked;
    Names pickerTitles;
    std::unique_ptr<frmBrowseRestoreList> window;
};

// Two sessions: the second holds a changed and a new file.
class TwoSessions : public RestoreBrowserTest {
protected:
    void SetUp() override {
        src.write("tree/docs/a.txt", "alpha");
        src.write("tree/docs/b.txt", "bravo bravo");
        src.write("tree/docs/c.txt", "charlie");
        src.write("tree/sub/x.txt", "x first");
        src.write("tree/sub/y.txt", "yankee");
        addJob(test::JobBuilder("Daily").to(dest.path()));
        backup();
        std::ofstream(path("sub/x.txt"), std::ios::app) << " and second";
        src.write("tree/sub/z.txt", "zulu");
        backup();
        open();
    }
};

TEST_F(TwoSessions, CheckingASessionChecksEverythingBelowAndOneUncheckedFileIsDrawnPartly) {
    RestoreModel& m = window->model();
    const int session = state.tree.sessions()[0];
    ASSERT_TRUE(m.setData(m.indexOf(session), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(drawn(state.tree.sessions()[1]), Qt::Unchecked);
    EXPECT_EQ(m.checkedFiles(), 5);
    EXPECT_EQ(state.tree.checkedFiles().size(), 5u);

    // Unchecked in the list: the list and the tree are one model.
    window->showNode(node(0, path("docs")));
    ASSERT_TRUE(check("b.txt", Qt::Unchecked));
    for (int n : {node(0, path("docs")), node(0, "/"), session})
        EXPECT_EQ(drawn(n), Qt::PartiallyChecked) << state.tree.node(n).key;
    EXPECT_EQ(m.checkedFiles(), 4);
    EXPECT_EQ(state.tree.checkedFiles().size(), 4u) << "what is drawn is what is restored";
    ASSERT_TRUE(m.setChecked(session, false));
    EXPECT_TRUE(state.tree.checkedFiles().empty());
}

// The checked files of both sessions are restored, and nothing else; meanwhile checks and
// commands are refused.
TEST_F(TwoSessions, RestoresExactlyTheCheckedFilesAndRefusesChecksAndCommandsMeanwhile) {
    window->showNode(node(0, path("docs")));
    ASSERT_TRUE(check("a.txt"));
    window->showNode(node(1, src.file("tree")));
    ASSERT_TRUE(check("sub"));
    picked = out.path();
    t.host.choices = {1};  // another folder
    int inside = 0;
    t.host.onYield = [&] {
        ++inside;
        EXPECT_TRUE(window->restoring());
        EXPECT_FALSE(u().keyRestoreFiles->isEnabled());
        EXPECT_FALSE(u().txtSearch->isEnabled());
        u().keyRestoreFiles->trigger();
        window->restoreFiles();
        EXPECT_FALSE(window->model().setData(window->model().indexOf(node(0, path("docs"))),
                                             Qt::Checked, Qt::CheckStateRole));
        window->close();
        window->reject();
        EXPECT_TRUE(window->isVisible());
    };
    QTest::mouseClick(u().tbToolbar->widgetForAction(u().keyRestoreFiles), Qt::LeftButton);
    t.host.onYield = nullptr;
    EXPECT_GT(inside, 0);
    EXPECT_EQ(boxTexts(), (Names{"Do you want to restore files to original folder?",
                                 "3/3 files restored to " + out.path() + "!"}));
    EXPECT_EQ(pickerTitles, Names{"Select path to restore files"});
    std::set<std::string> restored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out.path())) {
        if (entry.is_regular_file())
            restored.insert(entry.path().string().substr(out.path().size()));
    }
    EXPECT_EQ(restored,
              (std::set<std::string>{path("docs/a.txt"), path("sub/x.txt"), path("sub/z.txt")}));
    EXPECT_EQ(test::readAll(out.path() + path("sub/x.txt")), "x first and second");

    EXPECT_FALSE(window->restoring());
    EXPECT_TRUE(u().keyRestoreFiles->isEnabled());
    EXPECT_TRUE(window->model().setChecked(node(0, path("docs")), true));
    window->close();
    EXPECT_FALSE(window->isVisible());
}

// Nothing ticked is said at once; otherwise one box offers the original folder, another one
// (a folder dialog given up asks again) and Cancel.
TEST_F(TwoSessions, RestoreFilesSaysWhenNothingIsTickedAndOffersThreeWays) {
    const size_t progress = t.host.progressTitles.size();
    window->restoreFiles();
    EXPECT_EQ(boxTexts(), Names{"No files were selected to restore!"});
    t.host.boxes.clear();
    window->model().setChecked(node(0, path("docs/a.txt")), true);
    t.host.choices = {1, 2};  // another folder: none picked; then Cancel
    window->restoreFiles();
    const std::string original = "Do you want to restore files to original folder?";
    EXPECT_EQ(boxTexts(), (Names{original, original}));
    EXPECT_EQ(t.host.offers.back(),
              (Names{"To the original folder", "To another folder...", "Cancel"}));
    EXPECT_EQ(pickerTitles.size(), 1u);
    EXPECT_EQ(t.host.progressTitles.size(), progress) << "no restore ran";
}

// Folders come before files, each in the order a file manager gives names with numbers; the
// files show when they were last changed, and that column sorts too.
TEST_F(RestoreBrowserTest, TheListPutsFoldersFirstInNaturalOrderAndShowsModificationTimes) {
    for (const char* name : {"sub10/f", "sub2/f", "File10.txt", "file9.txt", "Sub1/f"})
        src.write(std::string("tree/") + name, name);
    std::filesystem::last_write_time(
        path("File10.txt"),
        std::filesystem::last_write_time(path("file9.txt")) - std::chrono::hours(48));
    addJob(test::JobBuilder("Daily").to(dest.path()));
    backup();
    open();
    window->showNode(node(0, src.file("tree")));
    const auto names = [&] {
        Names shown;
        for (int r = 0; r < listModel().rowCount(listRoot()); ++r)
            shown.push_back(listModel().index(r, 0, listRoot()).data().toString().toStdString());
        return shown;
    };
    EXPECT_EQ(names(), (Names{"Sub1", "sub2", "sub10", "file9.txt", "File10.txt"}));
    const QModelIndex at = listRow("File10.txt").siblingAtColumn(RestoreModel::kModified);
    const auto changed = std::filesystem::last_write_time(path("File10.txt"));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(changed).time_since_epoch());
    EXPECT_EQ(at.data().toString(),
              QDateTime::fromSecsSinceEpoch(seconds.count()).toString("yyyy-MM-dd HH:mm"));
    window->form().lvListView->header()->sectionClicked(RestoreModel::kModified);
    EXPECT_EQ(names().at(3), "File10.txt") << "the older file first, after the folders";
}

// The main window's restore command.
class RestoreCommandTest : public RestoreBrowserTest {
protected:
    RestoreSeams seams() {
        RestoreSeams s;
        s.show = [this](frmBrowseRestoreList& browser) {
            ++shown;
            onShow(browser);
        };
        return s;
    }
    void openBrowser(const std::string& job, const RestoreSeams& s) {
        OpenRestoreBrowser(nullptr, *t.ctx, runner, language, s, job);
    }

    int shown = 0;
    std::function<void(frmBrowseRestoreList&)> onShow = [](frmBrowseRestoreList&) {};
};

// The browser opens only over a catalogue; what keeps it closed is told once.
TEST_F(RestoreCommandTest, TheBrowserOpensOverACatalogueAndOtherwiseSaysWhy) {
    src.write("tree/a.txt", "alpha");
    addJob(test::JobBuilder("Daily").to(dest.path()));
    addJob(test::JobBuilder("Never ran").to(dest.path()));
    addJob(test::JobBuilder("Nowhere").ftp("127.0.0.1", 1, "user", "secret", "/daily"));
    RestoreState s;
    EXPECT_EQ(SetupFTPConnection(*t.ctx, s, runner, "No such job", makeFtpClient),
              FtpSetup::NoSuchJob);

    openBrowser("Nowhere", seams());  // nobody listens there
    openBrowser("Never ran", seams());
    EXPECT_EQ(boxTexts(), (Names{"Can't connect to ftp server!\n\nFAIL: No connection to the ftp "
                                 "server: cannot connect to 127.0.0.1:1: Connection refused",
                                 "Failed to create restore list!"}));
    EXPECT_FALSE(runner.busy());
    EXPECT_EQ(shown, 0);

    t.host.boxes.clear();
    backup("Daily");
    onShow = [](frmBrowseRestoreList& browser) { EXPECT_EQ(browser.model().rowCount(), 1); };
    openBrowser("Daily", seams());
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(t.host.boxes.empty());
}

// A catalogue kept from before a password change opens with the password the user gives; without
// it the browser shows the sessions it can and says which catalogue it left out.
TEST_F(RestoreCommandTest, AKeptCatalogueOpensWithThePasswordTheUserGives) {
    src.write("tree/a.txt", "alpha");
    addJob(test::JobBuilder("Safe").to(dest.path()).password("old pass"));
    backup("Safe");
    auto changed = runner.job("Safe")->clone();
    changed->password = "new pass";
    ASSERT_EQ(runner.changeJob("Safe", std::move(changed)), RunnerResult::Done);
    src.write("tree/b.txt", "bravo");
    backup("Safe", kStatusFailed);
    for (const std::optional<std::string>& answer :
         {std::optional<std::string>("old pass"), std::optional<std::string>()}) {
        std::vector<std::string> asked;
        int sessions = -1;
        RestoreSeams s;
        s.askPassword = [&](QWidget*, const QString& question) {
            asked.push_back(question.toStdString());
            return answer;
        };
        s.show = [&](frmBrowseRestoreList& browser) { sessions = browser.model().rowCount(); };
        t.host.boxes.clear();
        openBrowser("Safe", s);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_NE(asked[0].find("Safe.fs.kept-"), std::string::npos) << asked[0];
        EXPECT_EQ(sessions, answer ? 2 : 1);
        EXPECT_EQ(t.host.boxes.size(), answer ? 0u : 1u);
    }
}

TEST_F(RestoreCommandTest, AnFtpJobIsBrowsedAndRestoredThroughItsSessionAndDisconnectedOnClose) {
    remote.makeFolder("/daily");
    src.write("tree/a.txt", "alpha over ftp");
    src.write("tree/deep/b.txt", "bravo over ftp");
    addJob(test::JobBuilder("Remote").ftp("127.0.0.1", 21, "user", "secret", "/daily"));
    backup("Remote");
    // Yes to the download, then another folder.
    t.host.answers = {MsgAnswer::Yes};
    t.host.choices = {1};
    RestoreSeams s = seams();
    s.ftp = test::fakeFtpFactory(remote);
    s.pickFolder = [this](QWidget*, const QString&) { return out.path(); };
    onShow = [&](frmBrowseRestoreList& browser) {
        const RestoreState& st = browser.model().state();
        ASSERT_NE(st.ftp, nullptr);
        EXPECT_EQ(st.ftp->connectionState(), FtpClient::State::LoggedIn);
        const int b = st.tree.find(st.tree.node(st.tree.sessions()[0]).key + "|" +
                                   src.file("tree/deep/b.txt"));
        ASSERT_GE(b, 0);
        browser.showNode(st.tree.node(b).parent);
        const QModelIndex row =
            browser.listView().model()->index(0, 0, browser.listView().rootIndex());
        ASSERT_TRUE(browser.listView().model()->setData(row, Qt::Checked, Qt::CheckStateRole));
        browser.restoreFiles();
        browser.reject();
        EXPECT_EQ(st.ftp, nullptr) << "closing disconnects the session";
    };
    openBrowser("Remote", s);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(t.host.boxes.front().text, "Files were not stored locally. Proceed to download!");
    EXPECT_EQ(test::readAll(out.path() + src.file("tree/deep/b.txt")), "bravo over ftp");
    EXPECT_FALSE(std::filesystem::exists(out.path() + src.file("tree/a.txt")));
    EXPECT_EQ(t.host.boxes.back().text, "1/1 files restored to " + out.path() + "!");
}

}  // namespace
}  // namespace kestrel::ui
