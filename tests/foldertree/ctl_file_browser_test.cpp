// SPDX-License-Identifier: GPL-3.0-or-later
#include "foldertree/ctl_file_browser.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "foldertree/folder_model.h"

namespace kestrel {
namespace {

QStringList keysOf(const std::vector<FolderNode>& nodes) {
    QStringList keys;
    for (const FolderNode& n : nodes) {
        keys.append(n.Key);
    }
    return keys;
}

// A real folder tree in a temporary folder, which is the control's only drive.
class FolderTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = m_dir.path();
        browser = std::make_unique<ctlFileBrowser>(QStringList{m_root});
        model = browser->model();
    }
    QString path(const QString& rel) const { return m_root + u'/' + rel; }
    void makeDir(const QString& rel) const { ASSERT_TRUE(QDir().mkpath(path(rel))); }
    void makeFile(const QString& rel) const {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path(rel)).path()));
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QModelIndex item(const QString& key) const { return model->findKey(key); }
    QModelIndex folder(const QString& rel) const {
        return item(rel.isEmpty() ? "d@" + m_root : "d@" + path(rel));
    }
    QStringList checked() const { return keysOf(browser->GetCheckedItems()); }
    // The texts of a folder's children as the tree shows them, reading it first.
    QStringList childTexts(const QModelIndex& parent) const {
        browser->treeView()->expand(parent);
        QStringList texts;
        for (int r = 0; r < model->rowCount(parent); ++r) {
            texts.append(model->index(r, 0, parent).data().toString());
        }
        return texts;
    }

    QTemporaryDir m_dir;
    QString m_root;
    std::unique_ptr<ctlFileBrowser> browser;
    FolderModel* model = nullptr;
};

// The way to a path is opened, only the last item is checked, and paths that name nothing,
// or name it in another case, check nothing.
TEST_F(FolderTree, CheckDirOpensTheWayAndChecksOnlyWhatThePathNamesExactly) {
    makeDir("a/b/c/d");
    makeFile("docs/letter.odt");
    makeDir("Photos/2024");
    makeDir("photos/2024");
    ASSERT_TRUE(browser->CheckDir(path("a/b/c")));
    QTreeView* tree = browser->treeView();
    for (const char* open : {"", "a", "a/b"})
        EXPECT_TRUE(tree->isExpanded(folder(open))) << open;
    EXPECT_FALSE(model->isRead(folder("a/b/c")));
    EXPECT_EQ(tree->currentIndex(), folder("a/b/c"));
    EXPECT_EQ(folder("a").data(Qt::CheckStateRole).toInt(), Qt::Unchecked);

    ASSERT_TRUE(browser->CheckDir(path("docs/letter.odt")));
    for (const QString& nothing :
         {path("docs/letter.odt/x"), path("a/b/"), m_root + "/", path("a//b"),
          path("a/b/missing/deeper"), QString("/elsewhere/entirely"), QString(),
          QString("relative/path"), path("PHOTOS"), path("docs/LETTER.odt")}) {
        EXPECT_FALSE(browser->CheckDir(nothing)) << nothing.toStdString();
    }
    ASSERT_TRUE(browser->CheckDir(path("photos/2024")));
    ASSERT_TRUE(browser->CheckDir(path("Photos")));
    // In tree order.
    EXPECT_EQ(checked(), QStringList({"d@" + path("a/b/c"), "f@" + path("docs/letter.odt"),
                                      "d@" + path("Photos"), "d@" + path("photos/2024")}));
    EXPECT_FALSE(model->isRead(folder("Photos")));
}

TEST_F(FolderTree, ASecondReadAddsOnlyNewEntriesAndKeepsTheMarks) {
    makeFile("a.txt");
    makeDir("empty");
    makeDir("m");
    const QModelIndex drive = folder("");
    ASSERT_TRUE(browser->CheckDir(path("a.txt")));
    childTexts(folder("empty"));
    const QPersistentModelIndex kept(item("f@" + path("a.txt")));
    makeFile("0.txt");
    makeDir("b");
    browser->InsertSubfolders(drive);
    browser->InsertSubfolders(drive);
    EXPECT_EQ(childTexts(drive), QStringList({" b", " empty", " m", "0.txt", "a.txt"}));
    EXPECT_EQ(checked(), QStringList({"f@" + path("a.txt")}));
    EXPECT_FALSE(model->hasChildren(folder("empty")));
    EXPECT_TRUE(model->hasChildren(folder("b")));
    // The view's hold on the item followed it to its new row.
    EXPECT_EQ(kept.row(), 4);
    EXPECT_EQ(kept.data(FolderModel::KeyRole), "f@" + path("a.txt"));
}

// Folder texts begin with a blank that nobody types.
TEST_F(FolderTree, TypingANameSelectsIt) {
    for (const char* rel : {"apples", "Photos", "pictures"})
        makeDir(rel);
    makeFile("photo.txt");
    QTreeView* tree = browser->treeView();
    childTexts(folder(""));
    tree->setCurrentIndex(folder(""));
    QTest::keyClicks(tree, "pho");
    EXPECT_EQ(tree->currentIndex(), folder("Photos"));
    QTest::keyClicks(tree, "to.");
    EXPECT_EQ(tree->currentIndex(), item("f@" + path("photo.txt")));
}

}  // namespace
}  // namespace kestrel
