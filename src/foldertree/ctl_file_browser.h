// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "foldertree/folder_node.h"
#include "foldertree/foldertree_export.h"

class QTreeView;

namespace kestrel {

class FolderModel;

// The checkable folder tree: the root "My Computer", the drives below it, and the folders and
// files of each folder once it is opened. Every item has a check box of its own; checking a
// folder checks nothing else. The host picks sources with it: CheckDir for each stored path when
// a job is opened, GetCheckedItems when it is saved. Paths use "/" and are compared with case.
// Ctrl+Alt+Shift+V in the tree shows the control's version.
//
// Works as a promoted widget in a Designer form (header "foldertree/ctl_file_browser.h").
class KESTREL_FOLDERTREE_EXPORT ctlFileBrowser : public QWidget {
    Q_OBJECT

public:
    // The drives of this machine: the home folder, "/" and every mounted real file system.
    explicit ctlFileBrowser(QWidget* parent = nullptr);
    // These drives instead, in this order.
    explicit ctlFileBrowser(const QStringList& drivePaths, QWidget* parent = nullptr);
    ~ctlFileBrowser() override;

    // Replaces the drives and starts the tree afresh (root and drives only, nothing checked).
    void setDrives(const QStringList& drivePaths);
    QStringList drives() const;
    // The root item's text, from the language file; its key stays "f@My Computer".
    void setRootText(const QString& text);

    // Finds the item of the path dirname, starting at the drive that holds it (the longest drive
    // path that is dirname or a prefix of it ending at a "/"), opening every folder on the way;
    // selects and checks it. False when it is not there (the tree stays opened as far as it
    // got), also for a folder path with a trailing "/" other than a drive's own, and for a path
    // whose letter case differs from the one on disk.
    bool CheckDir(const QString& dirname);
    // The checked items in tree order, a folder before what it holds. The result is the
    // caller's.
    std::vector<FolderNode> GetCheckedItems() const;
    // Every item loaded so far, in tree order.
    std::vector<FolderNode> Nodes() const;
    // Sets or clears the check mark of the item with this key; false when no loaded item has it.
    bool setChecked(const QString& key, bool checked);

    // Adds one item below a drive or folder (or a drive below the root); see FolderModel.
    QModelIndex InsertRoot(const QString& sFolder, const QModelIndex& parent, bool dir);
    // Reads a folder again or for the first time; only entries not in the tree yet are added.
    void InsertSubfolders(const QModelIndex& folder);

    QTreeView* treeView() const;
    FolderModel* model() const;
    // "Control version:" followed by major.minor.revision.
    static QString versionText();

signals:
    // A check mark changed, by a click or key of the user, setChecked or CheckDir.
    void itemCheckChanged(const kestrel::FolderNode& node, bool checked);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openFolder(const QModelIndex& folder);
    void showVersion();

    FolderModel* m_model = nullptr;
    QTreeView* m_tree = nullptr;
};

}  // namespace kestrel
