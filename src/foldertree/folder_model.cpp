// SPDX-License-Identifier: GPL-3.0-or-later
#include "foldertree/folder_model.h"

#include <QCursor>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <algorithm>
#include <cstdint>

namespace kestrel {

namespace {

const QString kFolderPrefix = QStringLiteral("d@");
const QString kFilePrefix = QStringLiteral("f@");
// The root's path part of its key, whatever text the language file gives it.
const QString kRootPath = QStringLiteral("My Computer");
const QString kRootText = QStringLiteral("My Computer");

QString joinPath(const QString& folder, QStringView name) {
    QString path = folder;
    if (!path.endsWith(u'/')) {
        path += u'/';
    }
    path += name;
    return path;
}

// Whether path is folder or lies below it, on a component boundary.
bool isWithin(QStringView path, QStringView folder) {
    if (path == folder) {
        return true;
    }
    if (!path.startsWith(folder)) {
        return false;
    }
    return folder.endsWith(u'/') || path[folder.size()] == u'/';
}

// Compares the texts of two entries without building them: a folder's text is its name after
// one blank.
int compareTexts(bool dirA, QStringView a, bool dirB, QStringView b, Qt::CaseSensitivity cs) {
    if (dirA == dirB) {
        return a.compare(b, cs);
    }
    if (!dirA) {
        return -compareTexts(dirB, b, dirA, a, cs);
    }
    if (b.isEmpty()) {
        return 1;
    }
    const int first = QStringView(u" ").compare(b.first(1), cs);
    return first != 0 ? first : a.compare(b.sliced(1), cs);
}

// Case-insensitive as a tree view sorts, with case deciding between "Photos" and "photos" so
// that the order does not depend on the order on disk.
int compareEntries(bool dirA, QStringView a, bool dirB, QStringView b) {
    const int folded = compareTexts(dirA, a, dirB, b, Qt::CaseInsensitive);
    return folded != 0 ? folded : compareTexts(dirA, a, dirB, b, Qt::CaseSensitive);
}

class WaitCursor {
public:
    WaitCursor() {
        if (qGuiApp != nullptr) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        }
    }
    ~WaitCursor() {
        if (qGuiApp != nullptr) {
            QGuiApplication::restoreOverrideCursor();
        }
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

// Kept small: a folder of 100,000 entries holds 100,000 of these. The path is built from the
// names on demand rather than stored.
struct FolderModel::Node {
    enum class Kind : std::uint8_t { Top, Root, Drive, Folder, File };

    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    QString name;  // a drive's whole path; an entry's name
    int row = 0;
    Kind kind = Kind::File;
    bool checked = false;
    bool read = false;

    bool isFolder() const { return kind == Kind::Drive || kind == Kind::Folder; }
    bool isDir() const { return kind != Kind::File; }
};

FolderModel::FolderModel(QObject* parent) : QAbstractItemModel(parent), m_rootText(kRootText) {
    setDrives({});
}

FolderModel::~FolderModel() = default;

void FolderModel::setDrives(const QStringList& drivePaths) {
    beginResetModel();
    m_top = std::make_unique<Node>();
    m_top->kind = Node::Kind::Top;
    auto root = std::make_unique<Node>();
    root->kind = Node::Kind::Root;
    root->parent = m_top.get();
    root->read = true;
    m_drivePaths.clear();
    for (const QString& given : drivePaths) {
        if (given.isEmpty()) {
            continue;
        }
        const QString path = QDir::cleanPath(given);
        if (m_drivePaths.contains(path)) {
            continue;
        }
        m_drivePaths.insert(path);
        auto drive = std::make_unique<Node>();
        drive->kind = Node::Kind::Drive;
        drive->name = path;
        drive->parent = root.get();
        drive->row = static_cast<int>(root->children.size());
        root->children.push_back(std::move(drive));
    }
    m_top->children.push_back(std::move(root));
    endResetModel();
}

QStringList FolderModel::drives() const {
    QStringList paths;
    for (const auto& drive : m_top->children.front()->children) {
        paths.append(drive->name);
    }
    return paths;
}

void FolderModel::setRootText(const QString& text) {
    m_rootText = text;
    const QModelIndex root = rootIndex();
    emit dataChanged(root, root, {Qt::DisplayRole});
}

QModelIndex FolderModel::rootIndex() const {
    return indexOf(m_top->children.front().get());
}

FolderModel::Node* FolderModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_top.get();
}

QModelIndex FolderModel::indexOf(const Node* node) const {
    if (node == nullptr || node == m_top.get()) {
        return {};
    }
    return createIndex(node->row, 0, const_cast<Node*>(node));
}

QString FolderModel::pathOf(const Node* node) const {
    switch (node->kind) {
        case Node::Kind::Top:
            return {};
        case Node::Kind::Root:
            return kRootPath;
        case Node::Kind::Drive:
            return node->name;
        default:
            break;
    }
    std::vector<const Node*> chain;
    qsizetype length = 0;
    for (const Node* n = node; n->kind != Node::Kind::Drive; n = n->parent) {
        chain.push_back(n);
        length += n->name.size() + 1;
    }
    const Node* drive = chain.back()->parent;
    QString path;
    path.reserve(drive->name.size() + length);
    path += drive->name;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.endsWith(u'/')) {
            path += u'/';
        }
        path += (*it)->name;
    }
    return path;
}

QString FolderModel::keyOf(const Node* node) const {
    QString key = node->isFolder() ? kFolderPrefix : kFilePrefix;
    key += pathOf(node);
    return key;
}

QString FolderModel::textOf(const Node* node) const {
    switch (node->kind) {
        case Node::Kind::Root:
            return m_rootText;
        case Node::Kind::Drive:
        case Node::Kind::Folder:
            return u' ' + node->name;
        default:
            return node->name;
    }
}

QIcon FolderModel::iconOf(const Node* node) const {
    // One icon per kind and per file suffix, asked for once: the provider is slow and a
    // folder may hold a great many files.
    QString cacheKey;
    QAbstractFileIconProvider::IconType type = QAbstractFileIconProvider::File;
    switch (node->kind) {
        case Node::Kind::Root:
            cacheKey = QStringLiteral("/computer");
            type = QAbstractFileIconProvider::Computer;
            break;
        case Node::Kind::Drive:
            cacheKey = QStringLiteral("/drive");
            type = QAbstractFileIconProvider::Drive;
            break;
        case Node::Kind::Folder:
            cacheKey = QStringLiteral("/folder");
            type = QAbstractFileIconProvider::Folder;
            break;
        case Node::Kind::File: {
            const qsizetype dot = node->name.lastIndexOf(u'.');
            cacheKey = dot > 0 ? node->name.sliced(dot + 1).toLower() : QStringLiteral("/file");
            break;
        }
        case Node::Kind::Top:
            return {};
    }
    auto it = m_icons.constFind(cacheKey);
    if (it != m_icons.constEnd()) {
        return *it;
    }
    // A suffix is a name part and cannot hold "/", so the kinds' keys never meet one.
    const bool bySuffix = node->kind == Node::Kind::File && !cacheKey.startsWith(u'/');
    const QIcon icon =
        bySuffix ? m_iconProvider.icon(QFileInfo(pathOf(node))) : m_iconProvider.icon(type);
    m_icons.insert(cacheKey, icon);
    return icon;
}

FolderModel::Node* FolderModel::driveNodeOf(const QString& path) const {
    Node* best = nullptr;
    for (const auto& drive : m_top->children.front()->children) {
        if (isWithin(path, drive->name) &&
            (best == nullptr || drive->name.size() > best->name.size())) {
            best = drive.get();
        }
    }
    return best;
}

FolderModel::Node* FolderModel::findChild(const Node* folder, const QString& name, bool dir) {
    if (folder->kind == Node::Kind::Root) {
        for (const auto& drive : folder->children) {
            if (drive->name == name && dir) {
                return drive.get();
            }
        }
        return nullptr;
    }
    // The children are in text order, so the entry is found by halving.
    auto it = std::lower_bound(folder->children.begin(), folder->children.end(), name,
                               [dir](const std::unique_ptr<Node>& n, const QString& probe) {
                                   return compareEntries(n->isDir(), n->name, dir, probe) < 0;
                               });
    // A folder "x" and a file " x" share their text; the kind tells them apart.
    for (; it != folder->children.end() &&
           compareEntries((*it)->isDir(), (*it)->name, dir, name) == 0;
         ++it) {
        if ((*it)->isDir() == dir && (*it)->name == name) {
            return it->get();
        }
    }
    return nullptr;
}

bool FolderModel::holdsDrive(const QString& folderPath) const {
    for (const QString& drive : m_drivePaths) {
        if (drive != folderPath && isWithin(drive, folderPath)) {
            return true;
        }
    }
    return false;
}

QModelIndex FolderModel::InsertRoot(const QString& sFolder, const QModelIndex& parent, bool dir) {
    Node* folder = nodeOf(parent);
    if (!parent.isValid() || sFolder.isEmpty()) {
        return {};
    }
    if (folder->kind == Node::Kind::Root) {
        const QString path = QDir::cleanPath(sFolder);
        if (!dir || m_drivePaths.contains(path) || findKey(kFolderPrefix + path).isValid()) {
            return {};
        }
        auto drive = std::make_unique<Node>();
        drive->kind = Node::Kind::Drive;
        drive->name = path;
        drive->parent = folder;
        drive->row = static_cast<int>(folder->children.size());
        beginInsertRows(parent, drive->row, drive->row);
        m_drivePaths.insert(path);
        folder->children.push_back(std::move(drive));
        endInsertRows();
        return indexOf(folder->children.back().get());
    }
    if (!folder->isFolder()) {
        return {};
    }
    const QString base = pathOf(folder);
    const qsizetype skip = base.endsWith(u'/') ? base.size() : base.size() + 1;
    if (sFolder.size() <= skip || !isWithin(sFolder, base)) {
        return {};
    }
    const QString name = sFolder.sliced(skip);
    if (name.contains(u'/') || findChild(folder, name, dir) != nullptr ||
        (dir && m_drivePaths.contains(sFolder))) {
        return {};
    }
    auto entry = std::make_unique<Node>();
    entry->kind = dir ? Node::Kind::Folder : Node::Kind::File;
    entry->name = name;
    entry->parent = folder;
    const auto at =
        std::lower_bound(folder->children.begin(), folder->children.end(), entry,
                         [](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) {
                             return compareEntries(a->isDir(), a->name, b->isDir(), b->name) < 0;
                         });
    const int row = static_cast<int>(at - folder->children.begin());
    beginInsertRows(parent, row, row);
    folder->children.insert(at, std::move(entry));
    for (std::size_t i = static_cast<std::size_t>(row); i < folder->children.size(); ++i) {
        folder->children[i]->row = static_cast<int>(i);
    }
    endInsertRows();
    return indexOf(folder->children[static_cast<std::size_t>(row)].get());
}

void FolderModel::InsertSubfolders(const QModelIndex& index) {
    Node* folder = nodeOf(index);
    if (!index.isValid() || !folder->isFolder()) {
        return;
    }
    const WaitCursor wait;
    const QString base = pathOf(folder);
    const bool wasEmpty = folder->children.empty();
    const bool mayHoldDrive = holdsDrive(base);
    std::vector<std::unique_ptr<Node>> found;
    // An unreadable or vanished folder simply yields nothing.
    QDirIterator it(base, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString name = info.fileName();
        const bool dir = info.isDir();
        if (dir && name.startsWith(u'.')) {
            continue;
        }
        if (!wasEmpty && findChild(folder, name, dir) != nullptr) {
            continue;
        }
        // A drive inside this folder has its item at the top already; keys are unique.
        if (dir && mayHoldDrive && m_drivePaths.contains(joinPath(base, name))) {
            continue;
        }
        auto entry = std::make_unique<Node>();
        entry->kind = dir ? Node::Kind::Folder : Node::Kind::File;
        entry->name = std::move(name);
        entry->parent = folder;
        found.push_back(std::move(entry));
    }
    folder->read = true;
    if (found.empty()) {
        if (wasEmpty) {
            // The view keeps whether an item has children from its last layout: a layout
            // change makes it ask again, and the expand mark goes.
            emit layoutAboutToBeChanged({QPersistentModelIndex(index)});
            emit layoutChanged({QPersistentModelIndex(index)});
        }
        return;
    }
    const auto byText = [](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) {
        return compareEntries(a->isDir(), a->name, b->isDir(), b->name) < 0;
    };
    if (wasEmpty) {
        std::sort(found.begin(), found.end(), byText);
    }
    const int first = static_cast<int>(folder->children.size());
    const int last = first + static_cast<int>(found.size()) - 1;
    beginInsertRows(index, first, last);
    folder->children.reserve(folder->children.size() + found.size());
    for (auto& entry : found) {
        entry->row = static_cast<int>(folder->children.size());
        folder->children.push_back(std::move(entry));
    }
    endInsertRows();
    if (!wasEmpty) {
        sortChildren(folder);
    }
}

void FolderModel::sortChildren(Node* folder) {
    const QModelIndex index = indexOf(folder);
    emit layoutAboutToBeChanged({QPersistentModelIndex(index)},
                                QAbstractItemModel::VerticalSortHint);
    std::stable_sort(folder->children.begin(), folder->children.end(),
                     [](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) {
                         return compareEntries(a->isDir(), a->name, b->isDir(), b->name) < 0;
                     });
    for (std::size_t i = 0; i < folder->children.size(); ++i) {
        folder->children[i]->row = static_cast<int>(i);
    }
    // The nodes kept their addresses; only the rows of the folder's children moved.
    const QModelIndexList persistent = persistentIndexList();
    for (const QModelIndex& old : persistent) {
        const Node* n = nodeOf(old);
        if (n->parent == folder && n->row != old.row()) {
            changePersistentIndex(old, createIndex(n->row, old.column(), const_cast<Node*>(n)));
        }
    }
    emit layoutChanged({QPersistentModelIndex(index)}, QAbstractItemModel::VerticalSortHint);
}

bool FolderModel::isRead(const QModelIndex& folder) const {
    return folder.isValid() && nodeOf(folder)->read;
}

QModelIndex FolderModel::findKey(const QString& key) const {
    if (key == kFilePrefix + kRootPath) {
        return rootIndex();
    }
    const bool dir = key.startsWith(kFolderPrefix);
    if (!dir && !key.startsWith(kFilePrefix)) {
        return {};
    }
    const QString path = key.sliced(2);
    const Node* node = driveNodeOf(path);
    if (node == nullptr) {
        return {};
    }
    if (path == node->name) {
        return dir ? indexOf(node) : QModelIndex();
    }
    const qsizetype skip = node->name.endsWith(u'/') ? node->name.size() : node->name.size() + 1;
    const QStringList parts = path.sliced(skip).split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        node = findChild(node, parts[i], last ? dir : true);
        if (node == nullptr) {
            return {};
        }
    }
    return indexOf(node);
}

QModelIndex FolderModel::driveOf(const QString& path) const {
    return indexOf(driveNodeOf(path));
}

QModelIndex FolderModel::childNamed(const QModelIndex& folder, const QString& name) const {
    if (!folder.isValid()) {
        return {};
    }
    const Node* parent = nodeOf(folder);
    const Node* found = findChild(parent, name, true);
    if (found == nullptr) {
        found = findChild(parent, name, false);
    }
    return indexOf(found);
}

FolderNode FolderModel::node(const QModelIndex& index) const {
    if (!index.isValid()) {
        return {};
    }
    const Node* n = nodeOf(index);
    return FolderNode{keyOf(n), textOf(n), pathOf(n)};
}

std::vector<FolderNode> FolderModel::nodes(bool checkedOnly) const {
    std::vector<FolderNode> out;
    std::vector<const Node*> stack{m_top->children.front().get()};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!checkedOnly || n->checked) {
            out.push_back(FolderNode{keyOf(n), textOf(n), pathOf(n)});
        }
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) {
            stack.push_back(it->get());
        }
    }
    return out;
}

bool FolderModel::isChecked(const QModelIndex& index) const {
    return index.isValid() && nodeOf(index)->checked;
}

bool FolderModel::setChecked(const QModelIndex& index, bool checked) {
    if (!index.isValid()) {
        return false;
    }
    Node* n = nodeOf(index);
    if (n->checked != checked) {
        n->checked = checked;
        emit dataChanged(index, index, {Qt::CheckStateRole});
        emit checkChanged(index, checked);
    }
    return true;
}

QModelIndex FolderModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0 || parent.column() > 0) {
        return {};
    }
    const Node* folder = nodeOf(parent);
    if (static_cast<std::size_t>(row) >= folder->children.size()) {
        return {};
    }
    return createIndex(row, 0, folder->children[static_cast<std::size_t>(row)].get());
}

QModelIndex FolderModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) {
        return {};
    }
    return indexOf(nodeOf(child)->parent);
}

int FolderModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) {
        return 0;
    }
    return static_cast<int>(nodeOf(parent)->children.size());
}

int FolderModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool FolderModel::hasChildren(const QModelIndex& parent) const {
    if (parent.column() > 0) {
        return false;
    }
    const Node* n = nodeOf(parent);
    return (n->isFolder() && !n->read) || !n->children.empty();
}

QVariant FolderModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const Node* n = nodeOf(index);
    switch (role) {
        case Qt::DisplayRole:
            return textOf(n);
        case Qt::CheckStateRole:
            return static_cast<int>(n->checked ? Qt::Checked : Qt::Unchecked);
        case Qt::DecorationRole:
            return iconOf(n);
        case KeyRole:
            return keyOf(n);
        case FullPathRole:
            return pathOf(n);
        default:
            return {};
    }
}

bool FolderModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole) {
        return false;
    }
    return setChecked(index, value.toInt() == Qt::Checked);
}

Qt::ItemFlags FolderModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    if (nodeOf(index)->kind == Node::Kind::File) {
        f |= Qt::ItemNeverHasChildren;
    }
    return f;
}

bool FolderModel::canFetchMore(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return false;
    }
    const Node* n = nodeOf(parent);
    return n->isFolder() && !n->read;
}

void FolderModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent)) {
        InsertSubfolders(parent);
    }
}

}  // namespace kestrel
