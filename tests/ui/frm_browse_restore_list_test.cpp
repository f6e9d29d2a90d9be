#include "ui/frm_browse_restore_list.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QStackedWidget>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <set>

#include "core/app_context.h"
#include "core/language_file.h"
#include "platform/file_facts.h"
#include "restore/restore.h"
#include "runner/job_runner.h"
#include "support/fake_ftp_client.h"
#include "support/job_builder.h"
#include "support/test_context.h"
#include "ui/restore_model.h"
#include "ui_frm_browse_restore_list.h"

namespace kestrel::ui {
namespace {

class RestoreBrowserTest : public ::testing::Test {
protected:
    void TearDown() override {
        t.host.onYield = nullptr;
        window.reset();
    }

    void addJob(const std::string& name, bool incremental = true) {
        ASSERT_EQ(runner.addJob(test::JobBuilder(name)
                                    .folder(src.file("tree"))
                                    .to(dest.path())
                                    .archive()
                                    .incremental(incremental)
                                    .build()),
                  RunnerResult::Done);
    }
    void backup(const std::string& name = "Daily") {
        RunSummary summary;
        ASSERT_EQ(runner.RunBackup(name, &summary), RunnerResult::Done);
        ASSERT_EQ(summary.status, kStatusOk);
        t.clock.advanceSeconds(120);
    }
    void open(const std::string& name = "Daily") {
        ASSERT_EQ(runner.openRestore(name, state), RunnerResult::Done);
        RestoreSeams seams;
        seams.pickFolder = [this](QWidget*, const QString& title) {
            pickerTitles.push_back(title.toStdString());
            return picked.empty() ? std::string() : picked.front();
        };
        window = std::make_unique<frmBrowseRestoreList>(*t.ctx, runner, state, language, seams);
        window->show();
    }

    std::string sessionKey(size_t session) const {
        return state.tree.node(state.tree.sessions().at(session)).key;
    }
    // The node of an original path in a session (0 the first).
    int node(size_t session, const std::string& path) const {
        std::string key = sessionKey(session);
        key += '|';
        key += path;
        return state.tree.find(key);
    }
    std::string path(const std::string& relative) const { return src.file("tree/" + relative); }

    Ui::frmBrowseRestoreList& u() { return window->form(); }
    QAbstractItemModel& listModel() { return *window->listView().model(); }
    QModelIndex listRoot() { return window->listView().rootIndex(); }
    // Column texts of every list row, "name|size|starts|ends".
    std::vector<std::string> rows() {
        std::vector<std::string> out;
        QAbstractItemModel& m = listModel();
        for (int r = 0; r < m.rowCount(listRoot()); ++r) {
            std::string line;
            for (int c = 0; c < RestoreModel::kColumns; ++c) {
                if (c > 0)
                    line += '|';
                line += m.index(r, c, listRoot()).data().toString().toStdString();
            }
            out.push_back(line);
        }
        return out;
    }
    QModelIndex listRow(const std::string& name) {
        QAbstractItemModel& m = listModel();
        for (int r = 0; r < m.rowCount(listRoot()); ++r) {
            const QModelIndex at = m.index(r, 0, listRoot());
            if (at.data().toString().toStdString() == name)
                return at;
        }
        return {};
    }
    Qt::CheckState drawn(int n) { return window->model().drawnState(n); }
    QStringList boxTexts() const {
        QStringList texts;
        for (const auto& box : t.host.boxes)
            texts << QString::fromStdString(box.text);
        return texts;
    }

    test::TestContext t;
    test::TempDir src;
    test::TempDir dest;
    test::TempDir out;
    test::FakeRemote remote;  // the server of FTP jobs
    JobRunner runner{*t.ctx, JobRunner::Options{test::fakeFtpFactory(remote)}};
    LanguageFile language;
    RestoreState state;
    std::vector<std::string> picked;
    std::vector<std::string> pickerTitles;
    std::unique_ptr<frmBrowseRestoreList> window;
};

// Two sessions: the second holds a changed and a new file.
class TwoSessions : public RestoreBrowserTest {
protected:
    void SetUp() override {
        src.write("tree/docs/a.txt", "alpha");
        src.write("tree/docs/b.txt", "bravo bravo");
        src.write("tree/docs/c.txt", "charlie");
        src.write("tree/one/only.txt", std::string(1234, 'o'));
        src.write("tree/sub/x.txt", "x first");
        src.write("tree/sub/y.txt", "yankee");
        src.write("tree/sizes/small.bin", std::string(100, 's'));
        src.write("tree/sizes/nine.bin", std::string(9216, 'n'));
        src.write("tree/sizes/z9.bin", std::string(9216, 'z'));
        src.write("tree/sizes/ten.bin", std::string(10 * 1024 * 1024, 't'));
        addJob("Daily");
        backup();
        std::ofstream(path("sub/x.txt"), std::ios::app) << " and second";
        src.write("tree/sub/z.txt", "zulu");
        backup();
        open();
    }
};

TEST_F(TwoSessions, TheListShowsANodesChildrenWithTheirSizesAndVolumes) {
    ASSERT_EQ(state.tree.sessions().size(), 2u);
    // A session lists its root folder alone, with no size.
    window->showNode(state.tree.sessions()[0]);
    EXPECT_EQ(rows(), std::vector<std::string>{"/|||"});
    EXPECT_EQ(listRow("/").data(RestoreModel::kTagRole).toString(), "dir");
    EXPECT_EQ(state.tree.node(window->shownNode()).key, sessionKey(0));
    window->showNode(node(0, path("one")));
    const std::string first = state.records.front().arcStart + ".uxarc";
    EXPECT_EQ(rows(), std::vector<std::string>{"only.txt|1.21 Kb|" + first + "|" + first});
    EXPECT_EQ(listRow("only.txt").data(RestoreModel::kTagRole).toString(), "file");
    EXPECT_EQ(listRow("only.txt").data(RestoreModel::kKeyRole).toString().toStdString(),
              sessionKey(0) + "|" + path("one/only.txt"));

    // An incremental session stores only what changed, in a volume of its own.
    window->showNode(node(1, path("sub")));
    const std::string volume = state.records.back().arcStart + ".uxarc";
    EXPECT_EQ(volume.rfind("Daily", 0), 0u);
    EXPECT_NE(volume, "Daily.uxarc");
    const QModelIndex z = listRow("z.txt");
    EXPECT_EQ(z.siblingAtColumn(RestoreModel::kStartsIn).data().toString().toStdString(), volume);
    EXPECT_EQ(z.siblingAtColumn(RestoreModel::kEndsIn).data().toString().toStdString(), volume);
    EXPECT_EQ(node(1, path("one")), -1);
    EXPECT_EQ(node(1, path("sub/y.txt")), -1);
}

TEST_F(TwoSessions, DoubleClickOpensFoldersAndBackspaceGoesUpButNotAboveASession) {
    const int session = state.tree.sessions()[0];
    window->showNode(session);
    QTest::keyClick(window->form().lvListView, Qt::Key_Backspace);
    EXPECT_EQ(window->shownNode(), session);
    window->openItem(listRow("/"));
    EXPECT_EQ(window->shownNode(), node(0, "/"));
    window->showNode(node(0, path("one")));
    window->openItem(listRow("only.txt"));
    EXPECT_EQ(window->shownNode(), node(0, path("one"))) << "a file opens nothing";
    QTest::keyClick(window->form().lvListView, Qt::Key_Backspace);
    EXPECT_EQ(window->shownNode(), node(0, src.file("tree")));
    EXPECT_EQ(RestoreModel::nodeOf(window->form().tvTreeView->currentIndex()),
              node(0, src.file("tree")))
        << "the tree follows the list";
    // A click in the tree shows that node.
    const QModelIndex docs = window->model().indexOf(node(1, path("sub")));
    window->form().tvTreeView->setCurrentIndex(docs);
    EXPECT_EQ(window->shownNode(), node(1, path("sub")));
}

TEST_F(TwoSessions, CheckingASessionChecksEverythingBelowAndOneUncheckedFileIsDrawnPartly) {
    RestoreModel& m = window->model();
    const int session = state.tree.sessions()[0];
    ASSERT_TRUE(m.setData(m.indexOf(session), Qt::Checked, Qt::CheckStateRole));
    for (size_t i = 0; i < state.tree.size(); ++i) {
        if (state.tree.node(static_cast<int>(i)).key.rfind(sessionKey(0), 0) == 0) {
            EXPECT_EQ(drawn(static_cast<int>(i)), Qt::Checked) << state.tree.node(i).key;
        }
    }
    EXPECT_EQ(drawn(state.tree.sessions()[1]), Qt::Unchecked);
    EXPECT_EQ(m.checkedFiles(), 10);
    EXPECT_EQ(state.tree.checkedFiles().size(), 10u);

    // Unchecked in the list: the list and the tree are one model.
    window->showNode(node(0, path("docs")));
    ASSERT_TRUE(listModel().setData(listRow("b.txt"), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(drawn(node(0, path("docs/b.txt"))), Qt::Unchecked);
    EXPECT_EQ(drawn(node(0, path("docs"))), Qt::PartiallyChecked);
    EXPECT_EQ(drawn(node(0, "/")), Qt::PartiallyChecked);
    EXPECT_EQ(drawn(session), Qt::PartiallyChecked);
    EXPECT_EQ(m.indexOf(session).data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(m.checkedFiles(), 9);
    EXPECT_EQ(state.tree.checkedFiles().size(), 9u) << "what is drawn is what is restored";

    // Checking the folder again makes the whole session checked as drawn, though the tree's own
    // rule unchecks the session node itself.
    ASSERT_TRUE(m.setChecked(node(0, path("docs")), true));
    EXPECT_FALSE(state.tree.node(session).checked);
    EXPECT_EQ(drawn(session), Qt::Checked);
    EXPECT_EQ(m.checkedFiles(), 10);
    ASSERT_TRUE(m.setChecked(session, false));
    EXPECT_EQ(m.checkedFiles(), 0);
    EXPECT_EQ(m.checkedBytes(), 0);
    EXPECT_TRUE(state.tree.checkedFiles().empty());

    // The status bar counts the checked files and their size.
    EXPECT_EQ(window->statusText().toStdString(), "0 file(s) checked, 0 bytes");
    m.setChecked(node(0, path("sizes")), true);
    EXPECT_EQ(window->statusText().toStdString(), "4 file(s) checked, 10.02 Mb");
    m.setChecked(node(0, path("sizes/ten.bin")), false);
    EXPECT_EQ(window->statusText().toStdString(), "3 file(s) checked, 18.10 Kb");
}

TEST_F(TwoSessions, SizeSortsByBytesThenNameAndASecondClickReverses) {
    window->showNode(node(0, path("sizes")));
    auto names = [this] {
        std::vector<std::string> n;
        for (const std::string& row : rows())
            n.push_back(row.substr(0, row.find('|')));
        return n;
    };
    QHeaderView& header = *window->form().lvListView->header();
    const QPoint sizeColumn(header.sectionViewportPosition(RestoreModel::kSize) + 5, 5);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, sizeColumn);
    EXPECT_EQ(names(), (std::vector<std::string>{"small.bin", "nine.bin", "z9.bin", "ten.bin"}));
    const QModelIndex nine = listRow("nine.bin").siblingAtColumn(RestoreModel::kSize);
    const QModelIndex ten = listRow("ten.bin").siblingAtColumn(RestoreModel::kSize);
    EXPECT_EQ(nine.data().toString(), "9.00 Kb");
    EXPECT_EQ(ten.data().toString(), "10.00 Mb");
    EXPECT_LT(nine.row(), ten.row()) << "by bytes, not by text";
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, sizeColumn);
    EXPECT_EQ(names(), (std::vector<std::string>{"ten.bin", "z9.bin", "nine.bin", "small.bin"}));
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::DescendingOrder);
    // Another column starts ascending again.
    window->sortModel().columnClick(RestoreModel::kName);
    EXPECT_EQ(names(), (std::vector<std::string>{"nine.bin", "small.bin", "ten.bin", "z9.bin"}));
}

TEST_F(TwoSessions, TheFourViewsShowTheSameFolder) {
    window->showNode(node(0, path("docs")));
    auto& u = window->form();
    u.keyIcon->trigger();
    EXPECT_EQ(window->view(), frmBrowseRestoreList::View::Icons);
    EXPECT_EQ(u.stkViews->currentWidget(), u.lvListIcons);
    EXPECT_EQ(u.lvListIcons->viewMode(), QListView::IconMode);
    EXPECT_EQ(u.lvListIcons->model()->rowCount(u.lvListIcons->rootIndex()), 3);
    u.keysmall->trigger();
    EXPECT_EQ(u.lvListIcons->flow(), QListView::LeftToRight);
    u.keyList->trigger();
    EXPECT_EQ(u.lvListIcons->flow(), QListView::TopToBottom);
    // A check in the icon view is the node's check.
    QModelIndex b;
    for (int r = 0; r < 3; ++r) {
        const QModelIndex at = u.lvListIcons->model()->index(r, 0, u.lvListIcons->rootIndex());
        if (at.data().toString() == "b.txt")
            b = at;
    }
    ASSERT_TRUE(b.isValid());
    ASSERT_TRUE(u.lvListIcons->model()->setData(b, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(drawn(node(0, path("docs/b.txt"))), Qt::Checked);
    window->openItem(QModelIndex());
    QTest::keyClick(u.lvListIcons, Qt::Key_Backspace);
    EXPECT_EQ(window->shownNode(), node(0, src.file("tree")));
    u.keyReport->trigger();
    EXPECT_EQ(u.stkViews->currentWidget(), u.lvListView);
    EXPECT_TRUE(u.keyReport->isChecked());
    EXPECT_FALSE(u.keyList->isChecked());
}

TEST_F(TwoSessions, SearchListsTheMatchesOfEverySessionAndChecksTheirNodes) {
    auto& u = window->form();
    QTest::keyClicks(u.txtSearch, "X.T");
    EXPECT_EQ(u.stkViews->currentWidget(), u.lvSearch);
    RestoreSearchModel& found = window->searchModel();
    ASSERT_EQ(found.rowCount(), 2);
    std::set<std::string> sessions;
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(found.index(r, RestoreSearchModel::kPath).data().toString().toStdString(),
                  path("sub/x.txt"));
        sessions.insert(
            found.index(r, RestoreSearchModel::kSession).data().toString().toStdString());
    }
    EXPECT_EQ(sessions.size(), 2u) << "one match per session";
    EXPECT_EQ(found.index(1, RestoreSearchModel::kSize).data().toString().toStdString(),
              "18 bytes");
    ASSERT_TRUE(found.setData(found.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(drawn(node(1, path("sub/x.txt"))), Qt::Checked);
    EXPECT_EQ(found.index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(window->statusText().toStdString(), "1 file(s) checked, 18 bytes");
    // A check made elsewhere shows in the matches.
    window->model().setChecked(node(0, path("sub")), true);
    EXPECT_EQ(found.index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);

    u.txtSearch->setText("nothing like it");
    EXPECT_EQ(found.rowCount(), 0);
    u.txtSearch->clear();
    EXPECT_EQ(u.stkViews->currentWidget(), u.lvListView);
}

TEST_F(TwoSessions, ChecksAndCommandsAreRefusedWhileARestoreRuns) {
    auto& u = window->form();
    window->model().setChecked(node(0, path("docs/a.txt")), true);
    picked = {out.path()};
    t.host.answers = {MsgAnswer::No};
    int inside = 0;
    t.host.onYield = [&] {
        ++inside;
        EXPECT_TRUE(window->restoring());
        EXPECT_FALSE(u.keyRestoreFiles->isEnabled());
        EXPECT_FALSE(u.txtSearch->isEnabled());
        u.keyRestoreFiles->trigger();
        window->restoreFiles();
        EXPECT_FALSE(window->model().setData(window->model().indexOf(node(0, path("docs"))),
                                             Qt::Checked, Qt::CheckStateRole));
        EXPECT_FALSE(window->model()
                         .flags(window->model().indexOf(node(0, "/")))
                         .testFlag(Qt::ItemIsUserCheckable));
        window->close();
        window->reject();
        EXPECT_TRUE(window->isVisible());
    };
    u.keyRestoreFiles->trigger();
    t.host.onYield = nullptr;
    EXPECT_GT(inside, 0);
    EXPECT_EQ(boxTexts(),
              (QStringList{"Do you want to restore files to original folder?",
                           QString::fromStdString("1/1 files restored to " + out.path() + "!")}));
    EXPECT_EQ(pickerTitles, std::vector<std::string>{"Select path to restore files"});
    EXPECT_EQ(window->model().checkedFiles(), 1);
    EXPECT_FALSE(window->restoring());
    EXPECT_TRUE(u.keyRestoreFiles->isEnabled());
    EXPECT_TRUE(u.txtSearch->isEnabled());
    EXPECT_TRUE(window->model().setChecked(node(0, path("docs")), true));
    window->close();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(TwoSessions, AnEmptyFolderAsksAgainOrAborts) {
    const size_t progress = t.host.progressTitles.size();
    window->model().setChecked(node(0, path("docs/a.txt")), true);
    // No, no folder, Yes (again), No, no folder, No: aborted.
    t.host.answers = {MsgAnswer::No, MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::No};
    window->restoreFiles();
    EXPECT_EQ(boxTexts(),
              (QStringList{"Do you want to restore files to original folder?",
                           "You must select a valid path to restore files! Do you want to "
                           "continue?",
                           "Do you want to restore files to original folder?",
                           "You must select a valid path to restore files! Do you want to "
                           "continue?",
                           "Restore of files aborted by user!"}));
    EXPECT_EQ(t.host.boxes.back().icon, MsgIcon::Critical);
    EXPECT_EQ(pickerTitles.size(), 2u);
    EXPECT_EQ(t.host.progressTitles.size(), progress) << "no restore ran";
}

TEST_F(TwoSessions, RestoresExactlyTheCheckedFilesByteForByteWithTheirTimes) {
    // Two files of the first session and a folder of the second.
    RestoreModel& m = window->model();
    window->showNode(node(0, path("docs")));
    ASSERT_TRUE(listModel().setData(listRow("a.txt"), Qt::Checked, Qt::CheckStateRole));
    ASSERT_TRUE(listModel().setData(listRow("b.txt"), Qt::Checked, Qt::CheckStateRole));
    window->showNode(node(1, src.file("tree")));
    ASSERT_TRUE(listModel().setData(listRow("sub"), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(m.checkedFiles(), 4);
    picked = {out.path()};
    t.host.answers = {MsgAnswer::No};
    QTest::mouseClick(u().tbToolbar->widgetForAction(u().keyRestoreFiles), Qt::LeftButton);

    std::set<std::string> restored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out.path())) {
        if (entry.is_regular_file())
            restored.insert(entry.path().string());
    }
    const std::set<std::string> expected = {
        out.path() + path("docs/a.txt"), out.path() + path("docs/b.txt"),
        out.path() + path("sub/x.txt"), out.path() + path("sub/z.txt")};
    EXPECT_EQ(restored, expected);
    for (const char* file : {"docs/a.txt", "docs/b.txt", "sub/x.txt", "sub/z.txt"}) {
        const std::string original = path(file);
        const std::string back = out.path() + original;
        EXPECT_TRUE(test::readAll(original) == test::readAll(back)) << file;
        const auto a = statFile(original);
        const auto b = statFile(back);
        ASSERT_TRUE(a && b) << file;
        EXPECT_EQ(a->lastWriteTime, b->lastWriteTime) << file;
    }
    EXPECT_EQ(test::readAll(out.path() + path("sub/x.txt")), "x first and second");
    EXPECT_EQ(t.host.boxes.back().text, "4/4 files restored to " + out.path() + "!");
}

class OneSession : public RestoreBrowserTest {};

TEST_F(OneSession, ADamagedCatalogueLineIsSkippedAndTheRestShown) {
    src.write("tree/a.txt", "alpha");
    src.write("tree/b.txt", "bravo");
    src.write("tree/c.txt", "charlie");
    addJob("Daily", false);
    backup();
    const std::string catalogue = dest.file("Daily.fs");
    std::string text = test::readAll(catalogue);
    const size_t b = text.find(path("b.txt"));
    ASSERT_NE(b, std::string::npos);
    const size_t key = text.rfind("|fname=", b);
    ASSERT_NE(key, std::string::npos);
    text.replace(key, 7, "|fname");
    std::ofstream(catalogue, std::ios::binary | std::ios::trunc) << text;

    open();
    EXPECT_EQ(state.skippedLines, 1u);
    ASSERT_FALSE(t.host.boxes.empty());
    EXPECT_EQ(t.host.boxes.back().text, "1 damaged line(s) of the catalogue were skipped!");
    window->showNode(node(0, src.file("tree")));
    std::set<std::string> names;
    for (const std::string& row : rows())
        names.insert(row.substr(0, row.find('|')));
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "c.txt"}));
}

TEST_F(OneSession, CaptionsComeFromTheLanguageFile) {
    src.write("tree/a.txt", "alpha");
    addJob("Daily");
    backup();
    language = LanguageFile(test::sourceLanguagesDir() + "/german.lng");
    t.ctx->messages.FillMessages(test::sourceLanguagesDir() + "/german.lng");
    open();
    auto& u = window->form();
    EXPECT_EQ(window->windowTitle(), "Sicherung durchsuchen");
    EXPECT_EQ(u.keyRestoreFiles->text(), "Dateien wiederherstellen");
    EXPECT_EQ(u.keyIcon->text(), "Große Symbole");
    EXPECT_EQ(u.keyClose->text(), "Schließen");
    EXPECT_EQ(u.lvListView->model()->headerData(RestoreModel::kSize, Qt::Horizontal).toString(),
              "Größe");
    EXPECT_EQ(window->statusText(), "0 Datei(en) ausgewählt, 0 bytes");
}

// The main window's restore command.
class RestoreCommandTest : public RestoreBrowserTest {
protected:
    void addFtpJob(const std::string& name, int port) {
        ASSERT_EQ(runner.addJob(test::JobBuilder(name)
                                    .folder(src.file("tree"))
                                    .ftp("127.0.0.1", port, "user", "secret", "/daily")
                                    .archive()
                                    .build()),
                  RunnerResult::Done);
    }
    RestoreSeams seams() {
        RestoreSeams s;
        s.show = [this](frmBrowseRestoreList& browser) {
            ++shown;
            onShow(browser);
        };
        return s;
    }

    int shown = 0;
    std::function<void(frmBrowseRestoreList&)> onShow = [](frmBrowseRestoreList&) {};
};

// The browser opens only over a catalogue; what keeps it closed is told once.
TEST_F(RestoreCommandTest, TheBrowserOpensOverACatalogueAndOtherwiseSaysWhy) {
    src.write("tree/a.txt", "alpha");
    addJob("Daily");
    addJob("Never ran");
    addFtpJob("Nowhere", 1);  // nobody listens there
    RestoreState s;
    EXPECT_EQ(SetupFTPConnection(*t.ctx, s, runner, "No such job", makeFtpClient),
              FtpSetup::NoSuchJob);
    EXPECT_EQ(SetupFTPConnection(*t.ctx, s, runner, "Daily", makeFtpClient), FtpSetup::NotFtp);
    EXPECT_EQ(SetupFTPConnection(*t.ctx, s, runner, "Nowhere", makeFtpClient), FtpSetup::Failed);
    EXPECT_EQ(s.ftp, nullptr);

    OpenRestoreBrowser(nullptr, *t.ctx, runner, language, seams(), "Nowhere");
    EXPECT_EQ(boxTexts(), QStringList{"Can't connect to ftp server!"});
    EXPECT_EQ(t.host.boxes[0].icon, MsgIcon::Critical);
    t.host.boxes.clear();
    OpenRestoreBrowser(nullptr, *t.ctx, runner, language, seams(), "Never ran");
    EXPECT_EQ(boxTexts(), QStringList{"Failed to create restore list!"});
    EXPECT_FALSE(runner.busy());
    EXPECT_EQ(shown, 0);

    t.host.boxes.clear();
    backup("Daily");
    onShow = [this](frmBrowseRestoreList& browser) {
        EXPECT_EQ(browser.model().rowCount(), 1);
        EXPECT_EQ(browser.windowTitle(), "Browse backup");
    };
    OpenRestoreBrowser(nullptr, *t.ctx, runner, language, seams(), "Daily");
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(t.host.boxes.empty());
}

// A catalogue kept from before a password change opens with the password the user gives; without
// it the browser shows the sessions it can and says which catalogue it left out.
TEST(KeptCatalogue, OpensWithThePasswordTheUserGives) {
    test::TestContext t{true};
    test::TempDir src;
    test::TempDir dest;
    JobRunner runner{*t.ctx};
    LanguageFile language;
    src.write("tree/a.txt", "alpha");
    ASSERT_EQ(runner.addJob(test::JobBuilder("Safe")
                                .folder(src.file("tree"))
                                .to(dest.path())
                                .archive()
                                .incremental()
                                .password("old pass")
                                .build()),
              RunnerResult::Done);
    RunSummary summary;
    ASSERT_EQ(runner.RunBackup("Safe", &summary), RunnerResult::Done);
    ASSERT_EQ(summary.status, kStatusOk);
    auto changed = runner.job("Safe")->clone();
    changed->password = "new pass";
    ASSERT_EQ(runner.changeJob("Safe", std::move(changed)), RunnerResult::Done);
    t.clock.advanceSeconds(120);
    src.write("tree/b.txt", "bravo");
    ASSERT_EQ(runner.RunBackup("Safe", &summary), RunnerResult::Done);
    EXPECT_EQ(summary.status, kStatusFailed);
    for (const std::optional<std::string>& answer :
         {std::optional<std::string>("old pass"), std::optional<std::string>()}) {
        std::vector<std::string> asked;
        int sessions = -1;
        RestoreSeams seams;
        seams.askPassword = [&](QWidget*, const QString& question) {
            asked.push_back(question.toStdString());
            return answer;
        };
        seams.show = [&](frmBrowseRestoreList& browser) { sessions = browser.model().rowCount(); };
        t.host.boxes.clear();
        OpenRestoreBrowser(nullptr, *t.ctx, runner, language, seams, "Safe");
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
    addFtpJob("Remote", 21);
    backup("Remote");
    ASSERT_EQ(remote.files.count("/daily/Remote.fs"), 1u);

    RestoreState probe;
    EXPECT_EQ(SetupFTPConnection(*t.ctx, probe, runner, "Remote", test::fakeFtpFactory(remote)),
              FtpSetup::Connected);
    ASSERT_NE(probe.ftp, nullptr);
    EXPECT_EQ(probe.ftp->connectionState(), FtpClient::State::LoggedIn);
    probe.ftp->Disconnect();

    // Yes to the download, No to the original folder.
    t.host.answers = {MsgAnswer::Yes, MsgAnswer::No};
    RestoreSeams s = seams();
    s.ftp = test::fakeFtpFactory(remote);
    s.pickFolder = [this](QWidget*, const QString&) { return out.path(); };
    onShow = [&](frmBrowseRestoreList& browser) {
        const RestoreState& st = browser.model().state();
        ASSERT_NE(st.ftp, nullptr);
        std::string key = st.tree.node(st.tree.sessions()[0]).key;
        key += '|';
        key += src.file("tree/deep/b.txt");
        const int b = st.tree.find(key);
        ASSERT_GE(b, 0);
        browser.showNode(st.tree.node(b).parent);
        const QModelIndex row =
            browser.listView().model()->index(0, 0, browser.listView().rootIndex());
        EXPECT_EQ(row.siblingAtColumn(RestoreModel::kStartsIn).data().toString(), "Remote.uxarc");
        ASSERT_TRUE(browser.listView().model()->setData(row, Qt::Checked, Qt::CheckStateRole));
        browser.restoreFiles();
        browser.reject();
        EXPECT_EQ(st.ftp, nullptr) << "closing disconnects the session";
    };
    OpenRestoreBrowser(nullptr, *t.ctx, runner, language, s, "Remote");
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(t.host.boxes.front().text, "Files were not stored locally. Proceed to download!");
    EXPECT_EQ(test::readAll(out.path() + src.file("tree/deep/b.txt")), "bravo over ftp");
    EXPECT_FALSE(std::filesystem::exists(out.path() + src.file("tree/a.txt")));
    EXPECT_EQ(t.host.boxes.back().text, "1/1 files restored to " + out.path() + "!");
}

}  // namespace
}  // namespace kestrel::ui
