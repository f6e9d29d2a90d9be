// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/paths.h"

namespace kestrel {
struct RestoreState;
}

namespace kestrel::ui {

// The restore tree of a loaded catalogue for the browser's views: sessions, folders and files
// in the columns "Name", "Size", "Starts in", "Ends in" and "Modified". Below each session the
// folders come before the files, each by name as a file manager orders them. The tree and the list
// show the same model, so a check made in either is the one check.
//
// What is restored stays as the tree's own rules say (only checked files); what is drawn is
// worked out from the files below a node: all checked, none, or partly. The counts behind it
// are kept per node and changed along the one path a check touches, so that checking a session
// of many files costs one walk over it.
//
// The state must outlive the model; its tree must not be rebuilt while the model shows it.
class RestoreModel : public QAbstractItemModel {
    Q_OBJECT

public:
    // "Modified" comes last: language files caption the columns by position.
    enum Column { kName = 0, kSize, kStartsIn, kEndsIn, kModified, kColumns };
    enum Role {
        kNodeRole = Qt::UserRole + 1,  // the tree node's index
        kKeyRole,                      // the node's full key
        kTagRole,                      // "dir" for a node with children, "file" for one without
        kBytesRole,                    // a file's size in bytes; -1 for other nodes
        kTimeRole,                     // a file's modification time in seconds since 1970
    };

    explicit RestoreModel(RestoreState& state, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

    // The index of a tree node (column 0); invalid for -1.
    QModelIndex indexOf(int node, int column = 0) const;
    // The tree node of an index; -1 for the invisible root.
    static int nodeOf(const QModelIndex& index);

    // Checks or unchecks a node as the tree's rules say; false while read-only.
    bool setChecked(int node, bool checked);
    // How a node is drawn: from the files below it (a file: its own state).
    Qt::CheckState drawnState(int node) const;

    // While read-only no check can change (a restore runs over them).
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool readOnly() const { return m_readOnly; }

    // The checked files and their bytes: what a restore would restore.
    std::int64_t checkedFiles() const { return m_checkedFiles; }
    std::int64_t checkedBytes() const { return m_checkedBytes; }

    const RestoreState& state() const { return m_state; }
    // How sizes are written: the user's language.
    void setSizeWords(SizeWords words) { m_sizeWords = std::move(words); }
    const SizeWords& sizeWords() const { return m_sizeWords; }

signals:
    // After every change of checks, with the new totals.
    void checksChanged(std::int64_t files, std::int64_t bytes);

private:
    bool isFile(int node) const;
    // Sets a node's counts to all or none of its files, through the whole subtree.
    void fillSubtree(int node, bool checked);
    void addUpwards(int from, std::int64_t files, std::int64_t bytes);
    void announceSubtree(int node);

    RestoreState& m_state;
    SizeWords m_sizeWords;
    std::vector<int> m_row;                // each node's row below its parent
    std::vector<std::int64_t> m_files;     // files below a node (a file: 1)
    std::vector<std::int64_t> m_checked;   // checked files below a node
    std::vector<std::int64_t> m_bytesOn;   // bytes of the checked files below a node
    std::vector<std::int64_t> m_bytesAll;  // bytes of all files below a node
    std::int64_t m_checkedFiles = 0;
    std::int64_t m_checkedBytes = 0;
    QString m_headers[kColumns];
    bool m_readOnly = false;
};

// The list's order: by the clicked column, a second click on it reverses; "Size" by the byte
// count, and by name within equal keys. Unsorted (the tree's order) until a column is clicked.
class RestoreSortModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit RestoreSortModel(QObject* parent = nullptr);

    // What a click on a column header does.
    void columnClick(int column);
    int sortedColumn() const { return m_column; }
    Qt::SortOrder sortedOrder() const { return m_order; }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    int m_column = -1;
    Qt::SortOrder m_order = Qt::AscendingOrder;
};

// The files of every session whose name holds a text, for the browser's search: columns
// "Path", "Session", "Size". The names are folded to lower case once, so that a search is one
// pass of substring tests. Checks go to the restore model and are drawn from it.
class RestoreSearchModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kPath = 0, kSession, kSize, kColumns };

    // model must outlive this one.
    explicit RestoreSearchModel(RestoreModel& model, QObject* parent = nullptr);

    // The files whose name holds text, ignoring case, in the tree's order; none for "".
    void search(const QString& text);
    // The tree node of a row.
    int nodeAt(int row) const { return m_matches.at(static_cast<size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

private:
    RestoreModel& m_model;
    std::vector<int> m_files;      // every file node
    std::vector<QString> m_names;  // their names, folded
    std::vector<int> m_matches;
    QString m_headers[kColumns];
};

}  // namespace kestrel::ui
