// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemModel>
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "foldertree/folder_node.h"
#include "foldertree/foldertree_export.h"

namespace kestrel {

// The tree of the folder tree control: one root item ("My Computer"), the drives below it, and
// below each drive or folder its subfolders and files once it has been read. A folder is read on
// its first expansion (fetchMore); until then it shows an expand mark, and a folder found empty
// or unreadable loses it. Items are never removed, and every key is in the tree once: a drive
// that lies inside another drive is shown as a drive only, not again as a folder of the outer
// one. The children of a folder are kept in the order of their texts, case-insensitively, so
// the leading blank puts folders before files. Paths are compared exactly, with case.
//
// Single-threaded; reading a folder blocks (with the wait cursor).
class KESTREL_FOLDERTREE_EXPORT FolderModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Role {
        KeyRole = Qt::UserRole + 1,  // QString: "d@" or "f@" followed by the path
        FullPathRole,                // QString: the key without its prefix
    };

    explicit FolderModel(QObject* parent = nullptr);
    ~FolderModel() override;

    // Replaces the whole tree by the root and these drives, in this order, each once (cleaned
    // of a trailing "/"); check marks go with it.
    void setDrives(const QStringList& drivePaths);
    QStringList drives() const;
    // The root item's text; its key stays "f@My Computer".
    void setRootText(const QString& text);
    QModelIndex rootIndex() const;

    // Adds one item for the path sFolder: below the root item a drive (dir must be true), below
    // a drive or folder one of its entries (sFolder is that folder's path, "/" and the entry's
    // name), placed in text order. Returns its index, or an invalid index when the key is in the
    // tree already or sFolder does not belong below parent.
    QModelIndex InsertRoot(const QString& sFolder, const QModelIndex& parent, bool dir);
    // Reads the folder or drive: adds the entries not yet below it (dot-named folders are
    // hidden, dot-named files shown), leaving the items already there and their check marks as
    // they are. A folder that holds nothing, or cannot be read, loses its expand mark.
    void InsertSubfolders(const QModelIndex& folder);
    // Whether InsertSubfolders has run for this folder.
    bool isRead(const QModelIndex& folder) const;

    // The loaded item of this key, or an invalid index.
    QModelIndex findKey(const QString& key) const;
    // The drive that holds path: the longest drive path that is path itself or a prefix of it
    // ending at a "/". Invalid when no drive holds it.
    QModelIndex driveOf(const QString& path) const;
    // The loaded entry of that exact name below the folder (a folder before a file), or an
    // invalid index.
    QModelIndex childNamed(const QModelIndex& folder, const QString& name) const;

    FolderNode node(const QModelIndex& index) const;
    // Every loaded item (or only the checked ones) in tree order, parents before children.
    std::vector<FolderNode> nodes(bool checkedOnly) const;
    bool isChecked(const QModelIndex& index) const;
    // Emits checkChanged when the mark changes; false for an invalid index.
    bool setChecked(const QModelIndex& index, bool checked);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    void checkChanged(const QModelIndex& index, bool checked);

private:
    struct Node;

    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const Node* node) const;
    QString pathOf(const Node* node) const;
    QString keyOf(const Node* node) const;
    QString textOf(const Node* node) const;
    QIcon iconOf(const Node* node) const;
    Node* driveNodeOf(const QString& path) const;
    static Node* findChild(const Node* folder, const QString& name, bool dir);
    void sortChildren(Node* folder);
    bool holdsDrive(const QString& folderPath) const;

    std::unique_ptr<Node> m_top;  // invisible; its one child is the root item
    QString m_rootText;
    QSet<QString> m_drivePaths;
    mutable QFileIconProvider m_iconProvider;
    mutable QHash<QString, QIcon> m_icons;  // by kind, and for files by suffix
};

}  // namespace kestrel
