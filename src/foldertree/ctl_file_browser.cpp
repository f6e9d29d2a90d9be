// SPDX-License-Identifier: GPL-3.0-or-later
#include "foldertree/ctl_file_browser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "foldertree/drives.h"
#include "foldertree/folder_model.h"
#include "foldertree/version.h"

namespace kestrel {

namespace {

// Type-ahead as in a file manager. Folder texts begin with a blank, which the view's own search
// would demand to be typed.
class TypeAheadTree : public QTreeView {
public:
    using QTreeView::QTreeView;

    void keyboardSearch(const QString& search) override {
        if (search.isEmpty()) {
            m_typed.clear();
            return;
        }
        if (!m_since.isValid() || m_since.elapsed() > QApplication::keyboardInputInterval()) {
            m_typed.clear();
        }
        m_since.start();
        m_typed += search;
        // The same letter again steps on to the next name that starts with it.
        const bool step = m_typed.count(m_typed.front()) == m_typed.size();
        const QString wanted = step ? m_typed.left(1) : m_typed;
        const QModelIndex start =
            currentIndex().isValid() ? currentIndex() : model()->index(0, 0, rootIndex());
        QModelIndex at = step ? below(start) : start;
        while (at.isValid()) {
            if (at.data(Qt::DisplayRole)
                    .toString()
                    .trimmed()
                    .startsWith(wanted, Qt::CaseInsensitive)) {
                setCurrentIndex(at);
                scrollTo(at);
                return;
            }
            at = below(at);
            if (at == start) {
                return;
            }
        }
    }

private:
    // The next row shown, wrapping to the first.
    QModelIndex below(const QModelIndex& index) const {
        const QModelIndex next = indexBelow(index);
        return next.isValid() ? next : model()->index(0, 0, rootIndex());
    }

    QString m_typed;
    QElapsedTimer m_since;
};

}  // namespace

ctlFileBrowser::ctlFileBrowser(QWidget* parent) : ctlFileBrowser(systemDrives(), parent) {}

ctlFileBrowser::ctlFileBrowser(const QStringList& drivePaths, QWidget* parent)
    : QWidget(parent), m_model(new FolderModel(this)), m_tree(new TypeAheadTree(this)) {
    m_tree->setObjectName(QStringLiteral("tv"));
    m_tree->setHeaderHidden(true);
    m_tree->setIndentation(15);
    // Every row is one line high; the view then need not measure a folder of 100,000 entries.
    m_tree->setUniformRowHeights(true);
    m_tree->setModel(m_model);
    m_tree->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree);
    // The view asks the model to fetch only for an item it has laid out; the signal also
    // covers a folder expanded before the view is shown.
    connect(m_tree, &QTreeView::expanded, m_model, &FolderModel::fetchMore);
    // The drives are shown from the start.
    connect(m_model, &QAbstractItemModel::modelReset, this,
            [this] { m_tree->expand(m_model->rootIndex()); });
    connect(m_model, &FolderModel::checkChanged, this,
            [this](const QModelIndex& index, bool checked) {
                emit itemCheckChanged(m_model->node(index), checked);
            });
    setDrives(drivePaths);
}

ctlFileBrowser::~ctlFileBrowser() = default;

void ctlFileBrowser::setDrives(const QStringList& drivePaths) {
    m_model->setDrives(drivePaths);
}

QStringList ctlFileBrowser::drives() const {
    return m_model->drives();
}

void ctlFileBrowser::setRootText(const QString& text) {
    m_model->setRootText(text);
}

void ctlFileBrowser::openFolder(const QModelIndex& folder) {
    // Read first: an item the view holds expanded already raises no signal.
    m_model->fetchMore(folder);
    m_tree->expand(folder);
}

bool ctlFileBrowser::CheckDir(const QString& dirname) {
    QModelIndex item = m_model->driveOf(dirname);
    if (!item.isValid()) {
        return false;
    }
    QString level = item.data(FolderModel::FullPathRole).toString();
    if (level != dirname) {
        const qsizetype skip = level.endsWith(u'/') ? level.size() : level.size() + 1;
        const QStringList parts =
            dirname.sliced(std::min(skip, dirname.size())).split(u'/', Qt::SkipEmptyParts);
        openFolder(item);
        for (const QString& part : parts) {
            item = m_model->childNamed(item, part);
            if (!item.isValid()) {
                return false;
            }
            if (!level.endsWith(u'/')) {
                level += u'/';
            }
            level += part;
            if (level == dirname) {
                break;
            }
            openFolder(item);
        }
        // A trailing or doubled "/" builds the levels but never the given text itself.
        if (level != dirname) {
            return false;
        }
    }
    m_tree->setCurrentIndex(item);
    return m_model->setChecked(item, true);
}

std::vector<FolderNode> ctlFileBrowser::GetCheckedItems() const {
    return m_model->nodes(true);
}

std::vector<FolderNode> ctlFileBrowser::Nodes() const {
    return m_model->nodes(false);
}

bool ctlFileBrowser::setChecked(const QString& key, bool checked) {
    return m_model->setChecked(m_model->findKey(key), checked);
}

QModelIndex ctlFileBrowser::InsertRoot(const QString& sFolder, const QModelIndex& parent,
                                       bool dir) {
    return m_model->InsertRoot(sFolder, parent, dir);
}

void ctlFileBrowser::InsertSubfolders(const QModelIndex& folder) {
    m_model->InsertSubfolders(folder);
}

QTreeView* ctlFileBrowser::treeView() const {
    return m_tree;
}

FolderModel* ctlFileBrowser::model() const {
    return m_model;
}

QString ctlFileBrowser::versionText() {
    QString text = QStringLiteral("Control version:");
    text += QString::number(kControlVersionMajor);
    text += u'.';
    text += QString::number(kControlVersionMinor);
    text += u'.';
    text += QString::number(kControlVersionRevision);
    return text;
}

bool ctlFileBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tree && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers all = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
        if (key->key() == Qt::Key_V && (key->modifiers() & all) == all) {
            showVersion();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ctlFileBrowser::showVersion() {
    // Not modal for the application: the host's window goes on working behind it.
    auto* box =
        new QMessageBox(QMessageBox::Information, QString(), versionText(), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace kestrel
