// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_browse_ftp.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <set>

#include "core/app_context.h"
#include "core/language_file.h"
#include "platform/text.h"
#include "support/fake_ftp_client.h"
#include "support/test_context.h"
#include "ui_frm_browse_ftp.h"

namespace kestrel::ui {
namespace {

using Browser = frmBrowseFTP;
using Texts = std::set<std::string>;
using test::ftpEntry;

// Every node below item as "key|text|tag|image", depth first, for comparing whole trees.
void snapshot(const QTreeWidgetItem& item, std::vector<std::string>& out) {
    out.push_back(Browser::keyOf(item) + "|" + item.text(0).toStdString() + "|" +
                  Browser::tagOf(item) + "|" + std::to_string(Browser::imageOf(item)));
    for (int i = 0; i < item.childCount(); ++i)
        snapshot(*item.child(i), out);
}

Texts childTexts(const QTreeWidgetItem* item) {
    Texts texts;
    for (int i = 0; i < item->childCount(); ++i)
        texts.insert(item->child(i)->text(0).toStdString());
    return texts;
}

// The browser over an in-memory server: / holds backup (daily, weekly), empty, full (a file)
// and notes.txt.
class BrowserTest : public ::testing::Test {
protected:
    BrowserTest() {
        for (const char* folder : {"/backup/daily", "/backup/weekly", "/empty"})
            remote.makeFolder(folder);
        remote.put("/full/inner.txt", "inner");
        remote.put("/notes.txt", "notes");
        window = std::make_unique<Browser>(*t.ctx, language, nullptr, test::fakeFtpFactory(remote));
    }
    // The window's session refers to the remote.
    ~BrowserTest() override { window.reset(); }
    void TearDown() override { t.host.onYield = nullptr; }

    void start() {
        ASSERT_EQ(window->Start({"127.0.0.1", 21, "u", "p", true, false, ""}),
                  Browser::StartResult::Ok);
        window->show();
        remote.calls.clear();
    }
    QTreeWidget& tree() { return *window->form().TreeView1; }
    QTreeWidgetItem* root() { return tree().topLevelItem(0); }
    QTreeWidgetItem* at(const std::string& path) { return window->node("127.0.0.1/" + path); }
    void select(const std::string& path) {
        tree().setCurrentItem(path.empty() ? root() : at(path));
    }
    void expand(const std::string& path) { tree().expandItem(at(path)); }
    void pressDelete(MsgAnswer answer) {
        t.host.answers = {answer};
        QTest::keyClick(&tree(), Qt::Key_Delete);
    }
    std::vector<std::string> whole() {
        std::vector<std::string> out;
        if (root() != nullptr)
            snapshot(*root(), out);
        return out;
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

    test::TestContext t;
    LanguageFile language;
    test::FakeRemote remote;
    std::unique_ptr<Browser> window;
};

TEST_F(BrowserTest, TheTreeListsEachFolderOnItsFirstExpansionAndAgainOnTheNext) {
    start();
    ASSERT_EQ(tree().topLevelItemCount(), 1);
    EXPECT_EQ(root()->text(0).toStdString(), "127.0.0.1/");
    EXPECT_EQ(childTexts(root()), (Texts{"backup", "empty", "full", "notes.txt"}));
    QTreeWidgetItem* backup = at("/backup");
    ASSERT_NE(backup, nullptr) << "the key is the root's full path, \"/\" and the name";
    EXPECT_EQ(Browser::tagOf(*backup), "dir");
    ASSERT_EQ(backup->childCount(), 1);
    EXPECT_EQ(Browser::keyOf(*backup->child(0)), "127.0.0.1//backupNULL");
    EXPECT_EQ(Browser::tagOf(*at("/notes.txt")), "file");
    EXPECT_EQ(at("/notes.txt")->childCount(), 0);

    // An empty folder loses its placeholder and stays empty; the session gets one "/".
    expand("/empty");
    EXPECT_EQ(at("/empty")->childCount(), 0);
    EXPECT_EQ(remote.calls, (std::vector<std::string>{"CWD /empty", "LIST /empty"}));

    // Nested folders get their paths.
    tree().expandItem(backup);
    EXPECT_EQ(window->remotePath(*at("/backup/daily")), "//backup/daily");
    expand("/backup/daily");

    // Expanded again, a folder's children are replaced and unlisted again.
    tree().collapseItem(backup);
    remote.makeFolder("/backup/monthly");
    tree().expandItem(backup);
    EXPECT_EQ(childTexts(backup), (Texts{"daily", "monthly", "weekly"}));
    EXPECT_EQ(backup->childCount(), 3) << "no child of the first listing is left twice";
    EXPECT_EQ(at("/backup/daily")->childCount(), 1);
}

TEST_F(BrowserTest, ListingsShowNeitherDotEntriesNorNamelessNorDoubledLines) {
    remote.folders["/"] = {ftpEntry(".", true),  ftpEntry("..", true),   ftpEntry("", false),
                           ftpEntry("a", true),  ftpEntry("a", true),    ftpEntry("f", false),
                           ftpEntry("f", false), ftpEntry("aNULL", true)};
    remote.folders["/a"] = {ftpEntry(".", true), ftpEntry("..", true), ftpEntry("x", false)};
    start();
    EXPECT_EQ(childTexts(root()), (Texts{"a", "aNULL", "f"}));
    EXPECT_EQ(root()->childCount(), 3);
    expand("/a");
    EXPECT_EQ(childTexts(at("/a")), (Texts{"x"}));
}

TEST_F(BrowserTest, RemovingAsksFirstAndListsTheParentAgain) {
    start();
    expand("/backup");
    expand("/full");
    // Refused by the server (a folder with files, a file): the tree stays as it was.
    const auto before = whole();
    for (const std::string path : {"/full", "/notes.txt"}) {
        t.host.boxes.clear();
        select(path);
        pressDelete(MsgAnswer::Yes);
        ASSERT_EQ(t.host.boxes.size(), 1u) << path;
        EXPECT_EQ(t.host.boxes[0].text,
                  "Do you really want to delete the remote directory [/" + path + "]?");
        EXPECT_EQ(whole(), before) << path;
    }
    EXPECT_EQ(remote.files.count("/full/inner.txt"), 1u);

    select("/backup/weekly");
    remote.calls.clear();
    pressDelete(MsgAnswer::No);
    EXPECT_TRUE(remote.calls.empty());
    // The last folder changed to is elsewhere: the parent is listed anyway.
    expand("/backup/daily");
    select("/backup/weekly");
    remote.calls.clear();
    pressDelete(MsgAnswer::Yes);
    EXPECT_EQ(remote.calls,
              (std::vector<std::string>{"RMD /backup/weekly", "CWD /backup", "LIST /backup"}));
    EXPECT_EQ(childTexts(at("/backup")), (Texts{"daily"}));
}

// Every way of closing disconnects, Select taking the chosen folder; during a listing, the
// window closes once the listing returned.
TEST_F(BrowserTest, EveryWayOfClosingDisconnectsAndWaitsForAListing) {
    const std::vector<std::pair<const char*, std::function<void(Browser&)>>> ways = {
        {"Cancel", [](Browser& w) { w.form().uxGraphicButton2->click(); }},
        {"Escape", [](Browser& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
        {"title bar", [](Browser& w) { w.close(); }},
        {"Select",
         [this](Browser& w) {
             select("/empty");
             w.form().uxGraphicButton1->click();
         }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        remote.disconnects = 0;
        start();
        close(*window);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(remote.disconnects, 1);
        EXPECT_FALSE(window->hasSession());

        start();
        bool openMeanwhile = false;
        duringTheFirstListing([&, close = close] {
            expand("/full");
            close(*window);
            openMeanwhile = window->isVisible() && window->hasSession();
        });
        expand("/backup");
        EXPECT_TRUE(openMeanwhile);
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(window->hasSession());
        EXPECT_FALSE(remote.reentered);
        EXPECT_EQ(remote.calls,
                  (std::vector<std::string>{"CWD /backup", "LIST /backup", "disconnect"}))
            << "the listing ends, the queued expand is dropped";
        EXPECT_EQ(childTexts(at("/backup")), (Texts{"daily", "weekly"}));
    }
    EXPECT_EQ(remote.sessions, 8) << "each start makes its own session";
    EXPECT_EQ(window->selectedPath(), "/empty") << "the job stores one slash";
    EXPECT_EQ(window->result(), QDialog::Accepted);
    // A new start forgets the last choice; Select with nothing chosen keeps the window open.
    start();
    EXPECT_TRUE(window->selectedPath().empty());
    QTest::mouseClick(window->form().uxGraphicButton1, Qt::LeftButton);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(BrowserTest, WhatComesDuringAListingWaitsForItOrIsDropped) {
    start();
    duringTheFirstListing([this] {
        expand("/backup");
        expand("/backup");  // asked twice, done once
        expand("/full");
        tree().collapseItem(at("/full"));  // collapsed before its turn: not listed
        select("/backup");
        window->form().Text1->setText("x");
        window->newFolder();
        pressDelete(MsgAnswer::Yes);
        window->FillFolderNode(root());
    });
    expand("/empty");
    EXPECT_FALSE(remote.reentered);
    EXPECT_EQ(remote.calls, (std::vector<std::string>{"CWD /empty", "LIST /empty", "CWD /backup",
                                                      "LIST /backup"}));
    EXPECT_EQ(childTexts(at("/backup")), (Texts{"daily", "weekly"}));
    EXPECT_EQ(at("/full")->childCount(), 1) << "the placeholder stays";
    EXPECT_TRUE(t.host.boxes.empty()) << "Delete and New are refused, not asked";
    EXPECT_FALSE(window->busy());
}

TEST_F(BrowserTest, StartsThatCannotConnectOrCannotList) {
    remote.refuseLogin = true;
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true, false, ""}),
              Browser::StartResult::CantConnect);
    EXPECT_FALSE(window->hasSession());
    EXPECT_EQ(remote.disconnects, 1);
    remote.refuseLogin = false;
    // The job's TLS settings reach the session: a certificate is trusted only when pinned.
    remote.fingerprint = std::string(64, 'f');
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true, true, ""}),
              Browser::StartResult::CantConnect);
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true, true, remote.fingerprint}),
              Browser::StartResult::Ok);
    remote.folders.erase("/");
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true, false, ""}), Browser::StartResult::CantList);
    EXPECT_FALSE(window->hasSession());
    EXPECT_EQ(tree().topLevelItemCount(), 0);
    remote.start = "";
    EXPECT_EQ(window->Start({"h", 21, "u", "p", true, false, ""}), Browser::StartResult::CantList);
}

TEST_F(BrowserTest, AStartFolderOtherThanTheRootGivesSingleSlashes) {
    remote.start = "/home/u";
    remote.makeFolder("/home/u/site");
    ASSERT_EQ(window->Start({"ftp.example", 21, "u", "p", true, false, ""}),
              Browser::StartResult::Ok);
    ASSERT_NE(root(), nullptr);
    EXPECT_EQ(root()->text(0).toStdString(), "ftp.example/home/u");
    QTreeWidgetItem* site = window->node("ftp.example/home/u/site");
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(window->remotePath(*site), "/home/u/site");
    EXPECT_EQ(window->remotePath(*root()), "/home/u");
}

}  // namespace
}  // namespace kestrel::ui
