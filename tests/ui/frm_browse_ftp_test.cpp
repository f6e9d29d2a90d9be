#include "ui/frm_browse_ftp.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "core/app_context.h"
#include "core/language_file.h"
#include "platform/text.h"
#include "support/pyftpd_server.h"
#include "support/server_process.h"
#include "support/test_context.h"
#include "ui_frm_browse_ftp.h"

namespace kestrel::ui {
namespace {

using Browser = frmBrowseFTP;

// Every node below item as "key|text|tag|image", depth first, for comparing whole trees.
void snapshot(const QTreeWidgetItem& item, std::vector<std::string>& out) {
    std::string line = Browser::keyOf(item);
    line += '|';
    line += item.text(0).toStdString();
    line += '|';
    line += Browser::tagOf(item);
    line += '|';
    line += std::to_string(Browser::imageOf(item));
    out.push_back(line);
    for (int i = 0; i < item.childCount(); ++i)
        snapshot(*item.child(i), out);
}

std::set<std::string> childTexts(const QTreeWidgetItem& item) {
    std::set<std::string> texts;
    for (int i = 0; i < item.childCount(); ++i)
        texts.insert(item.child(i)->text(0).toStdString());
    return texts;
}

// pyftpdlib on 127.0.0.1 serving a folder of the test's, start folder "/".
class FtpServer : public test::PyFtpServer {
public:
    FtpServer() = default;
    FtpFields fields() const { return {"127.0.0.1", port(), "user", "secret", true}; }
};

class BrowserTest : public ::testing::Test {
protected:
    void TearDown() override {
        t.host.onYield = nullptr;
        if (HasFailure()) {
            for (const std::string& line : t.host.logLines)
                std::printf("%s\n", line.c_str());
        }
    }

    QTreeWidget& tree() { return *window->form().TreeView1; }
    QTreeWidgetItem* root() { return tree().topLevelItem(0); }
    QTreeWidgetItem* at(const std::string& remote) {
        std::string key = "127.0.0.1/";
        key += remote;
        return window->node(key);
    }
    void select(QTreeWidgetItem* item) { tree().setCurrentItem(item); }
    std::vector<std::string> whole() {
        std::vector<std::string> out;
        if (root() != nullptr)
            snapshot(*root(), out);
        return out;
    }
    // Index of the first log line from from on containing text, -1 when none does.
    int logIndex(const std::string& text, size_t from = 0) {
        for (size_t i = from; i < t.host.logLines.size(); ++i) {
            if (t.host.logLines[i].find(text) != std::string::npos)
                return static_cast<int>(i);
        }
        return -1;
    }

    test::TestContext t;
    LanguageFile language;
    std::unique_ptr<Browser> window;
};

class RealServerBrowser : public BrowserTest {
protected:
    void SetUp() override {
        if (!server.unavailable().empty())
            GTEST_SKIP() << server.unavailable();
        for (const char* folder : {"backup/daily", "backup/weekly", "empty", "full"})
            std::filesystem::create_directories(server.local(folder));
        std::ofstream(server.local("full/inner.txt")) << "inner";
        std::ofstream(server.local("notes.txt")) << "notes";
        window = std::make_unique<Browser>(*t.ctx, language);
        ASSERT_EQ(window->Start(server.fields()), Browser::StartResult::Ok);
        window->show();
    }

    // Closed while the server still runs.
    ~RealServerBrowser() override { window.reset(); }

    FtpServer server;
};

TEST_F(RealServerBrowser, TheRootIsTheHostAndStartFolderWithTheFirstLevel) {
    ASSERT_EQ(tree().topLevelItemCount(), 1);
    EXPECT_EQ(root()->text(0).toStdString(), "127.0.0.1/");
    EXPECT_EQ(Browser::keyOf(*root()), "keyRoot");
    EXPECT_TRUE(root()->isExpanded());
    EXPECT_EQ(Browser::imageOf(*root()), Browser::kImageFolderOpen);
    EXPECT_EQ(childTexts(*root()), (std::set<std::string>{"backup", "empty", "full", "notes.txt"}));

    QTreeWidgetItem* backup = at("/backup");
    ASSERT_NE(backup, nullptr) << "the key is the root's full path, \"/\" and the name";
    EXPECT_EQ(Browser::fullPath(*backup), "127.0.0.1//backup");
    EXPECT_EQ(window->remotePath(*backup), "//backup");
    EXPECT_EQ(Browser::tagOf(*backup), "dir");
    EXPECT_EQ(Browser::imageOf(*backup), Browser::kImageFolder);
    ASSERT_EQ(backup->childCount(), 1);
    EXPECT_EQ(backup->child(0)->text(0), "-");
    EXPECT_EQ(Browser::keyOf(*backup->child(0)), "127.0.0.1//backupNULL");

    QTreeWidgetItem* notes = at("/notes.txt");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(Browser::tagOf(*notes), "file");
    EXPECT_EQ(Browser::imageOf(*notes), Browser::kImageFile);
    EXPECT_EQ(notes->childCount(), 0);
    EXPECT_TRUE(window->form().Label1->text().isEmpty());
}

TEST_F(RealServerBrowser, AnEmptyFolderLosesItsPlaceholderAndStaysEmpty) {
    QTreeWidgetItem* empty = at("/empty");
    ASSERT_NE(empty, nullptr);
    tree().expandItem(empty);
    EXPECT_EQ(empty->childCount(), 0);
    EXPECT_EQ(Browser::imageOf(*empty), Browser::kImageFolderOpen);
    EXPECT_EQ(window->node("127.0.0.1//emptyNULL"), nullptr);
    EXPECT_GE(logIndex("CMD: CWD /empty"), 0) << "the session sends one \"/\" for \"//\"";
    tree().collapseItem(empty);
    EXPECT_EQ(Browser::imageOf(*empty), Browser::kImageFolder);
}

TEST_F(RealServerBrowser, NestedFoldersGetTheirPathsAndAClickShowsTheRemotePath) {
    tree().expandItem(at("/backup"));
    EXPECT_EQ(childTexts(*at("/backup")), (std::set<std::string>{"daily", "weekly"}));
    QTreeWidgetItem* daily = at("/backup/daily");
    ASSERT_NE(daily, nullptr);
    EXPECT_EQ(window->remotePath(*daily), "//backup/daily");
    tree().expandItem(daily);
    EXPECT_EQ(daily->childCount(), 0);

    const QRect cell = tree().visualItemRect(daily);
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(window->form().Label1->text().toStdString(), "//backup/daily");
    // A click on a file leaves the label as it is.
    const QRect file = tree().visualItemRect(at("/notes.txt"));
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, file.center());
    EXPECT_EQ(window->form().Label1->text().toStdString(), "//backup/daily");
}

TEST_F(RealServerBrowser, ExpandingTwiceReplacesTheChildren) {
    QTreeWidgetItem* backup = at("/backup");
    tree().expandItem(backup);
    tree().expandItem(at("/backup/daily"));
    tree().collapseItem(backup);
    std::filesystem::create_directories(server.local("backup/monthly"));
    tree().expandItem(backup);
    EXPECT_EQ(backup->childCount(), 3) << "no child of the first listing is left twice";
    EXPECT_EQ(childTexts(*backup), (std::set<std::string>{"daily", "monthly", "weekly"}));
    // The refilled folder's children are unlisted again.
    ASSERT_NE(at("/backup/daily"), nullptr);
    EXPECT_EQ(at("/backup/daily")->childCount(), 1);
}

TEST_F(RealServerBrowser, NewUnderTheRootDropsTheTrailingBlankAndKeepsTheLeadingOne) {
    select(root());
    QTest::keyClicks(window->form().Text1, " new one ");
    ASSERT_TRUE(window->form().uxGraphicButton3->isEnabled());
    QTest::mouseClick(window->form().uxGraphicButton3, Qt::LeftButton);
    EXPECT_GE(logIndex("CMD: MKD / new one"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(server.local(" new one")));
    EXPECT_FALSE(std::filesystem::exists(server.local(" new one ")));
    QTreeWidgetItem* made = at("/ new one");
    ASSERT_NE(made, nullptr) << "the root was filled again";
    EXPECT_EQ(made->childCount(), 1);
    EXPECT_TRUE(root()->isExpanded());
    EXPECT_TRUE(t.host.boxes.empty());
}

TEST_F(RealServerBrowser, NewRefillsTheChosenFolderNotTheOneLastExpanded) {
    tree().expandItem(at("/backup"));
    select(at("/empty"));
    window->form().Text1->setText("inside");
    window->newFolder();
    QTreeWidgetItem* empty = at("/empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(childTexts(*empty), (std::set<std::string>{"inside"}));
    EXPECT_TRUE(empty->isExpanded());
    EXPECT_EQ(Browser::imageOf(*empty), Browser::kImageFolderOpen);
    ASSERT_NE(at("/empty/inside"), nullptr);
    EXPECT_EQ(window->remotePath(*at("/empty/inside")), "//empty/inside");
}

TEST_F(RealServerBrowser, AFolderTheServerWillNotMakeIsToldAndLogged) {
    const auto before = whole();
    select(root());
    window->form().Text1->setText("backup");
    window->newFolder();
    ASSERT_EQ(t.host.boxes.size(), 1u);
    EXPECT_EQ(t.host.boxes[0].text, "Can't create directory!");
    EXPECT_EQ(t.host.boxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(t.logged("Can't create directory!"));
    EXPECT_EQ(whole(), before);
}

TEST_F(RealServerBrowser, NewIsEnabledOnlyForANonBlankName) {
    QPushButton* button = window->form().uxGraphicButton3;
    QLineEdit* name = window->form().Text1;
    EXPECT_FALSE(button->isEnabled());
    name->setText("   ");
    EXPECT_FALSE(button->isEnabled());
    name->setText(" x");
    EXPECT_TRUE(button->isEnabled());
    name->clear();
    EXPECT_FALSE(button->isEnabled());
}

TEST_F(RealServerBrowser, WithoutASelectionNewSendsNothing) {
    window->form().Text1->setText("orphan");
    window->newFolder();
    EXPECT_EQ(logIndex("CMD: MKD"), -1);
    EXPECT_TRUE(t.host.boxes.empty());
}

TEST_F(RealServerBrowser, ARemovalTheServerRefusesLeavesTheTreeAsItWas) {
    tree().expandItem(at("/full"));
    const auto before = whole();
    for (const char* remote : {"/full", "/notes.txt"}) {
        t.host.boxes.clear();
        t.host.answers = {MsgAnswer::Yes};
        select(at(remote));
        QTest::keyClick(&tree(), Qt::Key_Delete);
        ASSERT_EQ(t.host.boxes.size(), 1u) << remote;
        std::string question = "Do you really want to delete the remote directory [/";
        question += remote;
        question += "]?";
        EXPECT_EQ(t.host.boxes[0].text, question);
        EXPECT_EQ(t.host.boxes[0].icon, MsgIcon::Question);
        EXPECT_EQ(t.host.boxes[0].buttons, MsgButtons::YesNo);
        EXPECT_EQ(whole(), before) << remote;
    }
    EXPECT_TRUE(std::filesystem::exists(server.local("full/inner.txt")));
    EXPECT_TRUE(std::filesystem::exists(server.local("notes.txt")));
}

TEST_F(RealServerBrowser, RemovingWithYesRefillsTheParentAndNoSendsNothing) {
    tree().expandItem(at("/backup"));
    select(at("/backup/weekly"));
    t.host.answers = {MsgAnswer::No};
    QTest::keyClick(&tree(), Qt::Key_Delete);
    EXPECT_EQ(logIndex("CMD: RMD"), -1);
    ASSERT_NE(at("/backup/weekly"), nullptr);

    // The last folder changed to is elsewhere: the parent is listed anyway.
    tree().expandItem(at("/backup/daily"));
    select(at("/backup/weekly"));
    t.host.answers = {MsgAnswer::Yes};
    QTest::keyClick(&tree(), Qt::Key_Delete);
    EXPECT_GE(logIndex("CMD: RMD /backup/weekly"), 0);
    EXPECT_FALSE(std::filesystem::exists(server.local("backup/weekly")));
    EXPECT_EQ(at("/backup/weekly"), nullptr);
    EXPECT_EQ(childTexts(*at("/backup")), (std::set<std::string>{"daily"}));
}

TEST_F(RealServerBrowser, SelectWithoutASelectionKeepsTheWindowOpen) {
    QTest::mouseClick(window->form().uxGraphicButton1, Qt::LeftButton);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->selectedPath().empty());
    EXPECT_TRUE(window->hasSession());
    QTest::mouseClick(window->form().uxGraphicButton2, Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->selectedPath().empty());
    EXPECT_FALSE(window->hasSession());
    EXPECT_GE(logIndex("CMD: QUIT"), 0);
}

TEST_F(RealServerBrowser, SelectTakesTheRemotePathAsItStandsAndDisconnects) {
    tree().expandItem(at("/backup"));
    select(at("/backup/daily"));
    QTest::mouseClick(window->form().uxGraphicButton1, Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(window->selectedPath(), "//backup/daily");
    EXPECT_FALSE(window->hasSession());
    EXPECT_GE(logIndex("CMD: QUIT"), 0);
    // A new start is a new session, and forgets the last choice.
    ASSERT_EQ(window->Start(server.fields()), Browser::StartResult::Ok);
    EXPECT_TRUE(window->selectedPath().empty());
    EXPECT_EQ(tree().topLevelItemCount(), 1);
}

TEST_F(RealServerBrowser, ACloseDuringAListingClosesWhenTheListingReturns) {
    const size_t mark = t.host.logLines.size();
    int closes = 0;
    bool listingRunning = false;
    t.host.onYield = [&] {
        const int list = logIndex("CMD: LIST", mark);
        if (closes == 0 && list >= 0 && logIndex("REP: 226", static_cast<size_t>(list)) < 0) {
            ++closes;
            listingRunning = true;
            window->reject();
            EXPECT_TRUE(window->hasSession()) << "the session is not closed under the listing";
        }
    };
    tree().expandItem(at("/backup"));
    t.host.onYield = nullptr;
    ASSERT_TRUE(listingRunning);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->hasSession());
    EXPECT_EQ(childTexts(*at("/backup")), (std::set<std::string>{"daily", "weekly"}));
    const int end = logIndex("REP: 226", mark);
    ASSERT_GE(end, 0);
    EXPECT_GT(logIndex("CMD: QUIT", mark), end);
}

TEST(frmBrowseFTPStart, ADeadPortCannotConnect) {
    test::TestContext t;
    Browser window(*t.ctx, LanguageFile());
    const FtpFields fields{"127.0.0.1", test::freePort(), "user", "secret", true};
    EXPECT_EQ(window.Start(fields), Browser::StartResult::CantConnect);
    EXPECT_FALSE(window.hasSession());
    EXPECT_EQ(window.form().TreeView1->topLevelItemCount(), 0);
}

// A scripted server: folders by path, every call recorded, and any call that comes while
// another is still running noted.
struct FakeRemote {
    std::map<std::string, std::vector<clsFTPFile>> folders;
    std::string start = "/";
    bool refuseLogin = false;
    bool dropped = false;              // the server went away after the login
    std::set<std::string> unlistable;  // folders one may change to but not list
    std::vector<std::string> calls;
    int depth = 0;
    bool reentered = false;
    int disconnects = 0;
    int sessions = 0;
};

clsFTPFile entry(const std::string& name, bool folder) {
    clsFTPFile f;
    f.strName = name;
    f.bDir = folder;
    return f;
}

class FakeSession : public FtpClient {
public:
    FakeSession(FakeRemote& remote, Host& host) : m_remote(remote), m_host(host) {
        ++m_remote.sessions;
    }

    int connectionState() const override {
        return m_remote.dropped && m_state == kStateLoggedIn ? 3 : m_state;
    }
    void SetupConnection(const std::string&, std::int32_t, const std::string&, const std::string&,
                         bool) override {}
    bool EstablishConnection() override {
        Call call(m_remote, "connect");
        if (m_remote.refuseLogin)
            return false;
        m_state = kStateLoggedIn;
        return true;
    }
    bool Disconnect() override {
        Call call(m_remote, "disconnect");
        ++m_remote.disconnects;
        m_state = kStateInitial;
        return true;
    }
    int GetFile(const std::string&, const std::string&) override { return 0; }
    bool StoreFileAs(const std::string&, const std::string&) override { return false; }
    bool RenameFile(const std::string&, const std::string&) override { return false; }
    bool DeleteFile(const std::string&) override { return false; }
    std::optional<std::vector<clsFTPFile>> GetFileList() override {
        Call call(m_remote, "LIST " + m_cwd);
        m_host.yield();
        const auto found = m_remote.folders.find(m_cwd);
        if (found == m_remote.folders.end() || m_remote.unlistable.count(m_cwd) != 0)
            return std::nullopt;
        return found->second;
    }
    std::string GetRootDir() override {
        Call call(m_remote, "PWD");
        m_cwd = m_remote.start;
        return m_remote.start;
    }
    bool ChangeCurrentDirectory(const std::string& path) override {
        const std::string p = text::replaceAll(path, "//", "/");
        Call call(m_remote, "CWD " + p);
        m_host.yield();
        if (m_remote.folders.count(p) == 0)
            return false;
        m_cwd = p;
        return true;
    }
    bool CreateFTPDirectory(std::string& path) override {
        path = text::replaceAll(path, "//", "/");
        Call call(m_remote, "MKD " + path);
        const size_t slash = path.rfind('/');
        const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
        if (slash == std::string::npos || m_remote.folders.count(parent) == 0 ||
            m_remote.folders.count(path) != 0)
            return false;
        m_remote.folders[parent].push_back(entry(path.substr(slash + 1), true));
        m_remote.folders[path];
        return true;
    }
    bool DeleteFTPDirectory(std::string& path) override {
        path = text::replaceAll(path, "//", "/");
        Call call(m_remote, "RMD " + path);
        return false;
    }

private:
    struct Call {
        Call(FakeRemote& r, std::string what) : remote(r) {
            remote.calls.push_back(std::move(what));
            if (++remote.depth > 1)
                remote.reentered = true;
        }
        ~Call() { --remote.depth; }
        FakeRemote& remote;
    };

    FakeRemote& m_remote;
    Host& m_host;
    int m_state = kStateInitial;
    std::string m_cwd;
};

class FakeServerBrowser : public BrowserTest {
protected:
    FakeServerBrowser() {
        remote.folders["/"] = {entry("a", true), entry("b", true), entry("f", false)};
        remote.folders["/a"] = {entry("a1", true)};
        remote.folders["/b"] = {entry("b1", false)};
        window = std::make_unique<Browser>(*t.ctx, language, nullptr, [this](RunControl& rc) {
            return std::make_unique<FakeSession>(remote, rc.host);
        });
    }
    // The window's session refers to the remote.
    ~FakeServerBrowser() override { window.reset(); }
    void start() {
        ASSERT_EQ(window->Start({"127.0.0.1", 21, "u", "p", true}), Browser::StartResult::Ok);
        window->show();
        remote.calls.clear();
    }
    // Runs act once, at the first yield that comes while the session lists.
    void duringTheFirstListing(std::function<void()> act) {
        t.host.onYield = [this, act = std::move(act), done = false]() mutable {
            if (!done && remote.depth > 0 && text::startsWith(remote.calls.back(), "LIST")) {
                done = true;
                act();
            }
        };
    }

    FakeRemote remote;
};

TEST_F(FakeServerBrowser, DotEntriesAndNamelessLinesAreNeverShown) {
    remote.folders["/"] = {entry(".", true), entry("..", true), entry("", false), entry("a", true)};
    remote.folders["/a"] = {entry(".", true), entry("..", true), entry("x", false)};
    start();
    EXPECT_EQ(childTexts(*root()), (std::set<std::string>{"a"}));
    tree().expandItem(at("/a"));
    EXPECT_EQ(childTexts(*at("/a")), (std::set<std::string>{"x"}));
    EXPECT_EQ(window->node("127.0.0.1//a/.."), nullptr);
}

TEST_F(FakeServerBrowser, NewTrimsTheWholePathAndListsTheChosenFolderAgain) {
    start();
    tree().expandItem(at("/a"));
    remote.calls.clear();
    select(root());
    window->form().Text1->setText("  x  ");
    QTest::keyClick(window->form().Text1, Qt::Key_Return);
    EXPECT_EQ(remote.calls, (std::vector<std::string>{"MKD /  x", "CWD /", "LIST /"}));
    EXPECT_EQ(childTexts(*root()), (std::set<std::string>{"a", "b", "f", "  x"}));
    EXPECT_TRUE(root()->isExpanded());
    EXPECT_TRUE(t.host.boxes.empty());
}

TEST_F(FakeServerBrowser, AnEntryListedTwiceIsOneNode) {
    remote.folders["/"] = {entry("a", true), entry("a", true), entry("f", false)};
    start();
    EXPECT_EQ(root()->childCount(), 2);
}

TEST_F(FakeServerBrowser, AFolderNamedLikeAPlaceholderIsStillListed) {
    remote.folders["/"] = {entry("a", true), entry("aNULL", true)};
    start();
    EXPECT_EQ(childTexts(*root()), (std::set<std::string>{"a", "aNULL"}));
}

TEST_F(FakeServerBrowser, ASecondExpandDuringAListingWaitsForIt) {
    start();
    duringTheFirstListing([this] {
        tree().expandItem(at("/b"));
        tree().expandItem(at("/b"));  // asked twice, done once
        select(at("/b"));
        window->form().Text1->setText("x");
        window->newFolder();
        t.host.answers = {MsgAnswer::Yes};
        QTest::keyClick(&tree(), Qt::Key_Delete);
        window->FillFolderNode(root());
    });
    tree().expandItem(at("/a"));
    EXPECT_FALSE(remote.reentered);
    EXPECT_EQ(remote.calls, (std::vector<std::string>{"CWD /a", "LIST /a", "CWD /b", "LIST /b"}));
    EXPECT_EQ(childTexts(*at("/a")), (std::set<std::string>{"a1"}));
    EXPECT_EQ(childTexts(*at("/b")), (std::set<std::string>{"b1"}));
    EXPECT_TRUE(t.host.boxes.empty()) << "Delete and New are refused, not asked";
    EXPECT_FALSE(window->busy());
}

TEST_F(FakeServerBrowser, AnExpandCollapsedAgainBeforeItsTurnListsNothing) {
    start();
    duringTheFirstListing([this] {
        tree().expandItem(at("/b"));
        tree().collapseItem(at("/b"));
    });
    tree().expandItem(at("/a"));
    EXPECT_EQ(remote.calls, (std::vector<std::string>{"CWD /a", "LIST /a"}));
    EXPECT_EQ(at("/b")->childCount(), 1) << "the placeholder stays";
}

TEST_F(FakeServerBrowser, EveryWayOfClosingDuringAListingClosesOnceItReturns) {
    const std::vector<std::pair<const char*, std::function<void(Browser&)>>> ways = {
        {"Cancel", [](Browser& w) { w.form().uxGraphicButton2->click(); }},
        {"Escape", [](Browser& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
        {"title bar", [](Browser& w) { w.close(); }},
        {"Select",
         [this](Browser& w) {
             select(at("/a"));
             w.form().uxGraphicButton1->click();
         }},
    };
    for (const auto& [name, close] : ways) {
        remote.disconnects = 0;
        start();
        bool openMeanwhile = false;
        duringTheFirstListing([&, close = close] {
            tree().expandItem(at("/b"));
            close(*window);
            openMeanwhile = window->isVisible() && window->hasSession();
        });
        tree().expandItem(at("/a"));
        EXPECT_TRUE(openMeanwhile) << name;
        EXPECT_FALSE(window->isVisible()) << name;
        EXPECT_FALSE(window->hasSession()) << name;
        EXPECT_EQ(remote.disconnects, 1) << name;
        EXPECT_FALSE(remote.reentered) << name;
        EXPECT_EQ(remote.calls, (std::vector<std::string>{"CWD /a", "LIST /a", "disconnect"}))
            << name << ": the queued expand is dropped";
    }
    EXPECT_EQ(window->selectedPath(), "//a");
}

TEST_F(FakeServerBrowser, EveryCloseDisconnects) {
    const std::vector<std::function<void()>> ways = {
        [this] { window->form().uxGraphicButton2->click(); },
        [this] { QTest::keyClick(window.get(), Qt::Key_Escape); },
        [this] { window->close(); },
        [this] {
            select(root());
            window->form().uxGraphicButton1->click();
        },
    };
    for (size_t i = 0; i < ways.size(); ++i) {
        remote.disconnects = 0;
        start();
        ways[i]();
        EXPECT_FALSE(window->isVisible()) << i;
        EXPECT_EQ(remote.disconnects, 1) << i;
        EXPECT_FALSE(window->hasSession()) << i;
    }
    EXPECT_EQ(remote.sessions, 4) << "each start makes its own session";
    EXPECT_EQ(window->selectedPath(), "/");
}

TEST_F(FakeServerBrowser, AFailedFolderChangeLeavesTheNodeAsItWas) {
    remote.folders["/"].push_back(entry("gone", true));
    start();
    tree().expandItem(at("/gone"));
    QTreeWidgetItem* gone = at("/gone");
    ASSERT_EQ(gone->childCount(), 1);
    EXPECT_EQ(Browser::keyOf(*gone->child(0)), "127.0.0.1//goneNULL");
    EXPECT_EQ(remote.calls, (std::vector<std::string>{"CWD /gone"}));
}

TEST_F(FakeServerBrowser, AFailedListingLeavesTheFolderEmpty) {
    start();
    remote.unlistable = {"/b"};
    tree().expandItem(at("/b"));
    EXPECT_EQ(remote.calls, (std::vector<std::string>{"CWD /b", "LIST /b"}));
    EXPECT_EQ(at("/b")->childCount(), 0);
}

TEST_F(FakeServerBrowser, ADroppedSessionStopsExpandingAndRemoving) {
    start();
    remote.dropped = true;
    tree().expandItem(at("/a"));
    select(at("/a"));
    QTest::keyClick(&tree(), Qt::Key_Delete);
    EXPECT_TRUE(remote.calls.empty());
    EXPECT_TRUE(t.host.boxes.empty());
    EXPECT_EQ(at("/a")->childCount(), 1);
    EXPECT_EQ(Browser::imageOf(*at("/a")), Browser::kImageFolder);
}

TEST_F(FakeServerBrowser, ARefusedLoginCannotConnectAndARootWithoutListingCannotList) {
    remote.refuseLogin = true;
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true}), Browser::StartResult::CantConnect);
    EXPECT_FALSE(window->hasSession());
    EXPECT_EQ(remote.disconnects, 1);

    remote.refuseLogin = false;
    remote.folders.erase("/");
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true}), Browser::StartResult::CantList);
    EXPECT_FALSE(window->hasSession());
    EXPECT_EQ(tree().topLevelItemCount(), 0);

    remote.start = "";
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true}), Browser::StartResult::CantList);
}

TEST_F(FakeServerBrowser, AStartFolderOtherThanTheRootGivesSingleSlashes) {
    remote.start = "/home/u";
    remote.folders["/home/u"] = {entry("site", true)};
    remote.folders["/home/u/site"] = {};
    ASSERT_EQ(window->Start({"ftp.example", 21, "u", "p", true}), Browser::StartResult::Ok);
    ASSERT_NE(root(), nullptr);
    EXPECT_EQ(root()->text(0).toStdString(), "ftp.example/home/u");
    QTreeWidgetItem* site = window->node("ftp.example/home/u/site");
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(window->remotePath(*site), "/home/u/site");
    EXPECT_EQ(window->remotePath(*root()), "/home/u");
}

TEST_F(FakeServerBrowser, TheCaptionsComeFromTheLanguageFile) {
    const std::string path = t.dir.write("german.lng",
                                         "[frmBrowseFTP]\r\nCaption=FTP-Ordner\r\nuxGraphicButton3="
                                         "Neu\r\nuxGraphicButton1=Wahl\r\n");
    start();
    select(root());
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {},
                      tree().visualItemRect(at("/a")).center());
    window->retranslate(LanguageFile(path));
    EXPECT_EQ(window->windowTitle(), "FTP-Ordner");
    EXPECT_EQ(window->form().uxGraphicButton3->text(), "Neu");
    EXPECT_EQ(window->form().uxGraphicButton2->text(), "Cancel");
    EXPECT_EQ(window->form().Label1->text(), "//a") << "the path shown stays";
}

}  // namespace
}  // namespace kestrel::ui
