// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/restore_model.h"

#include <QDateTime>
#include <QIcon>

#include "engine/paths.h"
#include "platform/file_facts.h"
#include "restore/restore.h"
#include "ui/icons.h"

namespace kestrel::ui {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

QString volumeText(const std::string& base) {
    std::string name = base;
    name += ".uxarc";
    return q(name);
}

// Names as a file manager orders them: runs of digits by their value, the rest ignoring case
// ("sub2" before "sub10"), whatever the locale.
bool naturallyBefore(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype si = i;
            const qsizetype sj = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            // Leading zeros aside, the longer run is the larger number.
            QStringView x = QStringView(a).mid(si, i - si);
            QStringView y = QStringView(b).mid(sj, j - sj);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (const int c = x.compare(y); c != 0)
                return c < 0;
            continue;
        }
        const QChar x = a[i].toCaseFolded();
        const QChar y = b[j].toCaseFolded();
        if (x != y)
            return x < y;
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b;
}

const QIcon& nodeIcon(int image, bool hasChildren) {
    static const QIcon session = ownIcon("session");
    static const QIcon folder = ownIcon("folder");
    static const QIcon file = ownIcon("file");
    if (image == kImageSession)
        return session;
    return hasChildren ? folder : file;
}

}  // namespace

RestoreModel::RestoreModel(RestoreState& state, QObject* parent)
    : QAbstractItemModel(parent), m_state(state) {
    state.tree.sortChildren([](const RestoreNode& a, const RestoreNode& b) {
        const bool folderA = !a.children.empty() || a.folder >= 0;
        const bool folderB = !b.children.empty() || b.folder >= 0;
        if (folderA != folderB)
            return folderA;
        return naturallyBefore(q(a.text), q(b.text));
    });
    const RestoreTree& tree = state.tree;
    const size_t n = tree.size();
    m_row.assign(n, 0);
    m_files.assign(n, 0);
    m_checked.assign(n, 0);
    m_bytesOn.assign(n, 0);
    m_bytesAll.assign(n, 0);
    for (size_t r = 0; r < tree.sessions().size(); ++r)
        m_row[static_cast<size_t>(tree.sessions()[r])] = static_cast<int>(r);
    // A node is added after its parent, so walking backwards sums every subtree once.
    for (size_t i = n; i-- > 0;) {
        const RestoreNode& node = tree.node(static_cast<int>(i));
        for (size_t c = 0; c < node.children.size(); ++c)
            m_row[static_cast<size_t>(node.children[c])] = static_cast<int>(c);
        if (isFile(static_cast<int>(i))) {
            m_files[i] = 1;
            m_bytesAll[i] = state.records[static_cast<size_t>(node.record)].size;
            if (node.checked) {
                m_checked[i] = 1;
                m_bytesOn[i] = m_bytesAll[i];
            }
        }
        if (node.parent >= 0) {
            const auto p = static_cast<size_t>(node.parent);
            m_files[p] += m_files[i];
            m_checked[p] += m_checked[i];
            m_bytesOn[p] += m_bytesOn[i];
            m_bytesAll[p] += m_bytesAll[i];
        } else {
            m_checkedFiles += m_checked[i];
            m_checkedBytes += m_bytesOn[i];
        }
    }
    m_headers[kName] = tr("Name");
    m_headers[kSize] = tr("Size");
    m_headers[kStartsIn] = tr("Starts in");
    m_headers[kEndsIn] = tr("Ends in");
    m_headers[kModified] = tr("Modified");
}

bool RestoreModel::isFile(int node) const {
    const RestoreNode& n = m_state.tree.node(node);
    return n.children.empty() && n.record >= 0;
}

QModelIndex RestoreModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= kColumns)
        return {};
    const std::vector<int>& siblings =
        parent.isValid() ? m_state.tree.node(nodeOf(parent)).children : m_state.tree.sessions();
    if (static_cast<size_t>(row) >= siblings.size())
        return {};
    return createIndex(row, column, static_cast<quintptr>(siblings[static_cast<size_t>(row)]));
}

QModelIndex RestoreModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    const int up = m_state.tree.node(nodeOf(child)).parent;
    return indexOf(up);
}

int RestoreModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return static_cast<int>(m_state.tree.sessions().size());
    if (parent.column() != 0)
        return 0;
    return static_cast<int>(m_state.tree.node(nodeOf(parent)).children.size());
}

int RestoreModel::columnCount(const QModelIndex&) const {
    return kColumns;
}

QModelIndex RestoreModel::indexOf(int node, int column) const {
    if (node < 0 || static_cast<size_t>(node) >= m_state.tree.size())
        return {};
    return createIndex(m_row[static_cast<size_t>(node)], column, static_cast<quintptr>(node));
}

int RestoreModel::nodeOf(const QModelIndex& index) {
    return index.isValid() ? static_cast<int>(index.internalId()) : -1;
}

Qt::CheckState RestoreModel::drawnState(int node) const {
    const auto i = static_cast<size_t>(node);
    if (m_files[i] == 0)
        return m_state.tree.node(node).checked ? Qt::Checked : Qt::Unchecked;
    if (m_checked[i] == 0)
        return Qt::Unchecked;
    return m_checked[i] == m_files[i] ? Qt::Checked : Qt::PartiallyChecked;
}

QVariant RestoreModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const int node = nodeOf(index);
    const RestoreNode& n = m_state.tree.node(node);
    const bool file = isFile(node);
    switch (role) {
        case Qt::DisplayRole: {
            if (index.column() == kName)
                return q(n.text);
            if (!file)
                return QString();
            const clsRestoreFileData& rec = m_state.records[static_cast<size_t>(n.record)];
            if (index.column() == kSize)
                return q(FormatSize(rec.size, m_sizeWords));
            if (index.column() == kModified) {
                return QDateTime::fromSecsSinceEpoch(toPosixTime(rec.lastWriteTime).seconds)
                    .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            }
            return volumeText(index.column() == kStartsIn ? rec.arcStart : rec.arcEnd);
        }
        case Qt::DecorationRole:
            if (index.column() == kName)
                return nodeIcon(n.image, !n.children.empty());
            return {};
        case Qt::CheckStateRole:
            if (index.column() == kName)
                return drawnState(node);
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == kSize)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        case kNodeRole:
            return node;
        case kKeyRole:
            return q(n.key);
        case kTagRole:
            return n.children.empty() ? QStringLiteral("file") : QStringLiteral("dir");
        case kBytesRole:
            return file ? QVariant::fromValue<qlonglong>(
                              m_state.records[static_cast<size_t>(n.record)].size)
                        : QVariant::fromValue<qlonglong>(-1);
        case kTimeRole:
            return file ? QVariant::fromValue<qlonglong>(
                              toPosixTime(
                                  m_state.records[static_cast<size_t>(n.record)].lastWriteTime)
                                  .seconds)
                        : QVariant::fromValue<qlonglong>(-1);
        default:
            return {};
    }
}

bool RestoreModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    return setChecked(nodeOf(index), value.toInt() == Qt::Checked);
}

Qt::ItemFlags RestoreModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == kName && !m_readOnly)
        f |= Qt::ItemIsUserCheckable;
    if (m_state.tree.node(nodeOf(index)).children.empty())
        f |= Qt::ItemNeverHasChildren;
    return f;
}

QVariant RestoreModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return {};
    if (role == Qt::DisplayRole)
        return m_headers[section];
    if (role == Qt::TextAlignmentRole && section == kSize)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

bool RestoreModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                 int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns ||
        (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    m_headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

bool RestoreModel::setChecked(int node, bool checked) {
    if (m_readOnly || node < 0 || static_cast<size_t>(node) >= m_state.tree.size())
        return false;
    m_state.tree.setChecked(node, checked);
    const auto i = static_cast<size_t>(node);
    const std::int64_t files = (checked ? m_files[i] : 0) - m_checked[i];
    const std::int64_t bytes = (checked ? m_bytesAll[i] : 0) - m_bytesOn[i];
    fillSubtree(node, checked);
    addUpwards(m_state.tree.node(node).parent, files, bytes);
    m_checkedFiles += files;
    m_checkedBytes += bytes;

    announceSubtree(node);
    for (int p = m_state.tree.node(node).parent; p >= 0; p = m_state.tree.node(p).parent) {
        const QModelIndex at = indexOf(p);
        emit dataChanged(at, at, {Qt::CheckStateRole});
    }
    emit checksChanged(m_checkedFiles, m_checkedBytes);
    return true;
}

void RestoreModel::fillSubtree(int node, bool checked) {
    std::vector<int> stack = {node};
    while (!stack.empty()) {
        const auto i = static_cast<size_t>(stack.back());
        stack.pop_back();
        m_checked[i] = checked ? m_files[i] : 0;
        m_bytesOn[i] = checked ? m_bytesAll[i] : 0;
        const std::vector<int>& children = m_state.tree.node(static_cast<int>(i)).children;
        stack.insert(stack.end(), children.begin(), children.end());
    }
}

void RestoreModel::addUpwards(int from, std::int64_t files, std::int64_t bytes) {
    if (files == 0 && bytes == 0)
        return;
    for (int p = from; p >= 0; p = m_state.tree.node(p).parent) {
        m_checked[static_cast<size_t>(p)] += files;
        m_bytesOn[static_cast<size_t>(p)] += bytes;
    }
}

void RestoreModel::announceSubtree(int node) {
    const QModelIndex self = indexOf(node);
    emit dataChanged(self, self, {Qt::CheckStateRole});
    // One range per folder: a session of many files costs one signal per folder, not per file.
    std::vector<int> stack = {node};
    while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        const std::vector<int>& children = m_state.tree.node(at).children;
        if (children.empty())
            continue;
        emit dataChanged(indexOf(children.front()), indexOf(children.back()), {Qt::CheckStateRole});
        for (int child : children) {
            if (!m_state.tree.node(child).children.empty())
                stack.push_back(child);
        }
    }
}

RestoreSortModel::RestoreSortModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortCaseSensitivity(Qt::CaseInsensitive);
}

void RestoreSortModel::columnClick(int column) {
    if (column == m_column) {
        m_order = m_order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    } else {
        m_column = column;
        m_order = Qt::AscendingOrder;
    }
    sort(m_column, m_order);
}

bool RestoreSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const auto name = [](const QModelIndex& at) {
        return at.siblingAtColumn(RestoreModel::kName).data().toString();
    };
    if (left.column() == RestoreModel::kSize || left.column() == RestoreModel::kModified) {
        const int role = left.column() == RestoreModel::kSize ? RestoreModel::kBytesRole
                                                              : RestoreModel::kTimeRole;
        const qlonglong a = left.data(role).toLongLong();
        const qlonglong b = right.data(role).toLongLong();
        if (a != b)
            return a < b;
    } else if (left.column() != RestoreModel::kName) {
        const int c = left.data().toString().compare(right.data().toString(), Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
    }
    const QString a = name(left);
    const QString b = name(right);
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

RestoreSearchModel::RestoreSearchModel(RestoreModel& model, QObject* parent)
    : QAbstractTableModel(parent), m_model(model) {
    const RestoreTree& tree = model.state().tree;
    for (size_t i = 0; i < tree.size(); ++i) {
        const RestoreNode& node = tree.node(static_cast<int>(i));
        if (node.children.empty() && node.record >= 0) {
            m_files.push_back(static_cast<int>(i));
            m_names.push_back(q(node.text).toCaseFolded());
        }
    }
    m_headers[kPath] = tr("Path");
    m_headers[kSession] = tr("Session");
    m_headers[kSize] = tr("Size");
    connect(&model, &RestoreModel::checksChanged, this, [this] {
        if (!m_matches.empty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
    });
}

void RestoreSearchModel::search(const QString& text) {
    beginResetModel();
    m_matches.clear();
    const QString needle = text.toCaseFolded();
    if (!needle.isEmpty()) {
        for (size_t i = 0; i < m_files.size(); ++i) {
            if (m_names[i].contains(needle))
                m_matches.push_back(m_files[i]);
        }
    }
    endResetModel();
}

int RestoreSearchModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_matches.size());
}

int RestoreSearchModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant RestoreSearchModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<size_t>(index.row()) >= m_matches.size())
        return {};
    const int node = m_matches[static_cast<size_t>(index.row())];
    const RestoreState& state = m_model.state();
    const RestoreNode& n = state.tree.node(node);
    const clsRestoreFileData& rec = state.records[static_cast<size_t>(n.record)];
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case kPath:
                    return q(state.tree.pathOf(node));
                case kSession: {
                    int top = node;
                    while (state.tree.node(top).parent >= 0)
                        top = state.tree.node(top).parent;
                    return q(state.tree.node(top).text);
                }
                default:
                    return q(FormatSize(rec.size, m_model.sizeWords()));
            }
        case Qt::DecorationRole:
            return index.column() == kPath ? nodeIcon(n.image, false) : QVariant();
        case Qt::CheckStateRole:
            return index.column() == kPath ? QVariant(m_model.drawnState(node)) : QVariant();
        case Qt::TextAlignmentRole:
            if (index.column() == kSize)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        case RestoreModel::kNodeRole:
            return node;
        case RestoreModel::kKeyRole:
            return q(n.key);
        case RestoreModel::kBytesRole:
            return QVariant::fromValue<qlonglong>(rec.size);
        default:
            return {};
    }
}

bool RestoreSearchModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole ||
        static_cast<size_t>(index.row()) >= m_matches.size())
        return false;
    return m_model.setChecked(m_matches[static_cast<size_t>(index.row())],
                              value.toInt() == Qt::Checked);
}

Qt::ItemFlags RestoreSearchModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == kPath && !m_model.readOnly())
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant RestoreSearchModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return {};
    if (role == Qt::DisplayRole)
        return m_headers[section];
    return {};
}

bool RestoreSearchModel::setHeaderData(int section, Qt::Orientation orientation,
                                       const QVariant& value, int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns ||
        (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    m_headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

}  // namespace kestrel::ui
