// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_browse_ftp.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

#include "core/app_context.h"
#include "core/language_file.h"
#include "platform/text.h"
#include "ui/icons.h"
#include "ui/language.h"
#include "ui_frm_browse_ftp.h"

namespace kestrel::ui {

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr const char* kRootKey = "keyRoot";
constexpr const char* kPlaceholderSuffix = "NULL";

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// "." would nest the folder in itself forever, and a ".." node would send "RMD /backup/.." on
// Delete, which removes the parent; a nameless line is no entry either.
bool isChoosable(const std::string& name) {
    return !name.empty() && name != "." && name != "..";
}

// The hourglass while the session works.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

frmBrowseFTP::frmBrowseFTP(AppContext& ctx, const LanguageFile& language, QWidget* parent,
                           FtpClientFactory factory)
    : QDialog(parent),
      m_ctx(ctx),
      m_factory(std::move(factory)),
      m_ui(std::make_unique<Ui::frmBrowseFTP>()) {
    m_ui->setupUi(this);
    m_images[kImageFolder] = ownIcon("folder");
    m_images[kImageFolderOpen] = ownIcon("folderOpen");
    m_images[kImageFile] = ownIcon("file");
    m_ui->uxGraphicButton3->setIcon(iconFor("keyNew"));
    m_ui->uxGraphicButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    m_ui->uxGraphicButton2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    QTreeWidget& tree = *m_ui->TreeView1;
    tree.setHeaderHidden(true);
    tree.setSortingEnabled(false);
    tree.installEventFilter(this);
    connect(&tree, &QTreeWidget::itemExpanded, this, &frmBrowseFTP::onExpanded);
    connect(&tree, &QTreeWidget::itemCollapsed, this, &frmBrowseFTP::onCollapsed);
    connect(&tree, &QTreeWidget::itemClicked, this, &frmBrowseFTP::onClicked);
    connect(m_ui->uxGraphicButton3, &QPushButton::clicked, this, &frmBrowseFTP::newFolder);
    connect(m_ui->uxGraphicButton1, &QPushButton::clicked, this, &frmBrowseFTP::selectFolder);
    connect(m_ui->uxGraphicButton2, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->Text1, &QLineEdit::textChanged, this, &frmBrowseFTP::updateNewButton);
    connect(m_ui->Text1, &QLineEdit::returnPressed, this, [this] {
        if (m_ui->uxGraphicButton3->isEnabled())
            newFolder();
    });
    m_ui->Label1->clear();
    updateNewButton();
    retranslate(language);
}

frmBrowseFTP::~frmBrowseFTP() {
    closeSession();
}

void frmBrowseFTP::retranslate(const LanguageFile& language) {
    // The label shows a path, not a caption: it keeps it.
    const QString shown = m_ui->Label1->text();
    m_ui->retranslateUi(this);
    ApplyLanguage(*this, language);
    m_ui->Label1->setText(shown);
}

frmBrowseFTP::StartResult frmBrowseFTP::Start(const FtpFields& fields) {
    if (m_busy)
        return StartResult::CantConnect;
    m_selected.clear();
    m_pendingClose.reset();
    m_pendingExpands.clear();
    m_nodes.clear();
    m_ui->TreeView1->clear();
    m_ui->Label1->clear();
    m_host = fields.host;
    StartResult result = StartResult::Ok;
    exclusive([&] {
        closeSession();
        m_session = m_factory ? m_factory(m_ctx.control) : nullptr;
        if (!m_session) {
            result = StartResult::CantConnect;
            return;
        }
        m_session->SetupConnection(fields.host, fields.port, fields.user, fields.password,
                                   fields.passive);
        m_session->SetupTls(fields.tls, fields.tlsPin);
        if (!m_session->EstablishConnection()) {
            result = StartResult::CantConnect;
            return;
        }
        // Without the start folder no node would have a path to send.
        const std::string start = m_session->GetRootDir();
        if (start.empty()) {
            result = StartResult::CantList;
            return;
        }
        std::string text = fields.host;
        text += start;
        auto* root = new QTreeWidgetItem(m_ui->TreeView1);
        root->setText(0, q(text));
        root->setData(0, kKeyRole, q(kRootKey));
        root->setData(0, kTagRole, QStringLiteral("dir"));
        m_nodes[kRootKey] = root;
        if (!fill(root)) {
            result = StartResult::CantList;
            return;
        }
        expandQuietly(root);
    });
    if (result != StartResult::Ok) {
        closeSession();
        m_nodes.clear();
        m_ui->TreeView1->clear();
    }
    return result;
}

void frmBrowseFTP::done(int result) {
    if (m_busy) {
        m_pendingClose = result;
        return;
    }
    m_pendingExpands.clear();
    closeSession();
    QDialog::done(result);
}

void frmBrowseFTP::closeSession() {
    if (m_session) {
        m_session->Disconnect();
        m_session.reset();
    }
}

bool frmBrowseFTP::loggedIn() const {
    return m_session && m_session->connectionState() == FtpClient::State::LoggedIn;
}

void frmBrowseFTP::exclusive(const std::function<void()>& work) {
    m_busy = true;
    {
        WaitCursor hourglass;
        work();
    }
    m_busy = false;
    drain();
}

void frmBrowseFTP::drain() {
    if (m_draining)
        return;
    m_draining = true;
    for (;;) {
        if (m_pendingClose) {
            const int result = *m_pendingClose;
            m_pendingClose.reset();
            done(result);
            break;
        }
        if (m_pendingExpands.empty())
            break;
        const std::string key = m_pendingExpands.front();
        m_pendingExpands.pop_front();
        // A node refilled meanwhile is gone, one collapsed again no longer wants its children.
        QTreeWidgetItem* waiting = node(key);
        if (waiting != nullptr && waiting->isExpanded()) {
            exclusive([&] { expand(waiting); });
        }
    }
    m_draining = false;
}

void frmBrowseFTP::onExpanded(QTreeWidgetItem* expanded) {
    if (m_quietExpand || expanded == nullptr)
        return;
    if (m_busy) {
        const std::string key = keyOf(*expanded);
        if (std::find(m_pendingExpands.begin(), m_pendingExpands.end(), key) ==
            m_pendingExpands.end()) {
            m_pendingExpands.push_back(key);
        }
        return;
    }
    exclusive([&] { expand(expanded); });
}

void frmBrowseFTP::expand(QTreeWidgetItem* folder) {
    if (!loggedIn())
        return;
    setImage(folder, kImageFolderOpen);
    if (m_session->ChangeCurrentDirectory(remotePath(*folder))) {
        fill(folder);
    }
}

void frmBrowseFTP::onCollapsed(QTreeWidgetItem* collapsed) {
    if (collapsed != nullptr)
        setImage(collapsed, kImageFolder);
}

void frmBrowseFTP::onClicked(QTreeWidgetItem* clicked) {
    if (clicked != nullptr && tagOf(*clicked) == "dir")
        m_ui->Label1->setText(q(remotePath(*clicked)));
}

bool frmBrowseFTP::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->TreeView1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        deleteSelected();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmBrowseFTP::FillFolderNode(QTreeWidgetItem* folder) {
    if (m_busy || folder == nullptr)
        return;
    exclusive([&] { fill(folder); });
}

bool frmBrowseFTP::fill(QTreeWidgetItem* folder) {
    removeChildren(folder);
    if (!m_session)
        return false;
    const auto list = m_session->GetFileList();
    if (!list)
        return false;
    const std::string parentPath = fullPath(*folder);
    for (const clsFTPFile& entry : *list) {
        if (!isChoosable(entry.strName))
            continue;
        std::string key = parentPath;
        key += '/';
        key += entry.strName;
        if (m_nodes.count(key) != 0)
            continue;
        addNode(folder, key, entry.strName, entry.bDir);
    }
    return true;
}

void frmBrowseFTP::refill(QTreeWidgetItem* folder) {
    if (loggedIn() && m_session->ChangeCurrentDirectory(remotePath(*folder)))
        fill(folder);
}

QTreeWidgetItem* frmBrowseFTP::addNode(QTreeWidgetItem* parent, const std::string& key,
                                       const std::string& name, bool folder) {
    auto* child = new QTreeWidgetItem(parent);
    child->setText(0, q(name));
    child->setData(0, kKeyRole, q(key));
    child->setData(0, kTagRole, folder ? QStringLiteral("dir") : QStringLiteral("file"));
    setImage(child, folder ? kImageFolder : kImageFile);
    m_nodes[key] = child;
    if (folder) {
        // Only the expand mark: placeholders are not looked up by key, so that a folder named
        // like one ("aNULL" beside "a") is still listed.
        auto* placeholder = new QTreeWidgetItem(child);
        placeholder->setText(0, QStringLiteral("-"));
        std::string placeholderKey = key;
        placeholderKey += kPlaceholderSuffix;
        placeholder->setData(0, kKeyRole, q(placeholderKey));
    }
    return child;
}

void frmBrowseFTP::removeChildren(QTreeWidgetItem* folder) {
    for (QTreeWidgetItem* child : folder->takeChildren()) {
        std::unique_ptr<QTreeWidgetItem> owned(child);
        forget(child);
    }
}

void frmBrowseFTP::forget(QTreeWidgetItem* gone) {
    const auto found = m_nodes.find(keyOf(*gone));
    if (found != m_nodes.end() && found->second == gone)
        m_nodes.erase(found);
    for (int i = 0; i < gone->childCount(); ++i)
        forget(gone->child(i));
}

void frmBrowseFTP::setImage(QTreeWidgetItem* item, int image) {
    item->setIcon(0, m_images[static_cast<size_t>(image)]);
    item->setData(0, kImageRole, image);
}

void frmBrowseFTP::expandQuietly(QTreeWidgetItem* folder) {
    // An expand by the program lists nothing again: the node was just filled.
    m_quietExpand = true;
    folder->setExpanded(true);
    m_quietExpand = false;
    setImage(folder, kImageFolderOpen);
}

QTreeWidgetItem* frmBrowseFTP::selectedNode() const {
    const auto selected = m_ui->TreeView1->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    // A placeholder stands for nothing on the server.
    QTreeWidgetItem* item = selected.front();
    return tagOf(*item).empty() ? nullptr : item;
}

void frmBrowseFTP::newFolder() {
    if (m_busy)
        return;
    exclusive([&] {
        QTreeWidgetItem* parent = selectedNode();
        if (parent == nullptr)
            return;
        std::string path = remotePath(*parent);
        path += '/';
        path += m_ui->Text1->text().toStdString();
        path = std::string(text::trimBlanks(path));
        if (m_session && m_session->CreateFTPDirectory(path)) {
            refill(parent);
            expandQuietly(parent);
            return;
        }
        const std::string& message = m_ctx.msg("strMsgCantCreateDirectory");
        tell(m_ctx.host, message, MsgIcon::Critical);
        m_ctx.WriteLog(message);
    });
}

void frmBrowseFTP::selectFolder() {
    QTreeWidgetItem* chosen = selectedNode();
    if (chosen == nullptr)
        return;
    // The root's "/" joined to a child's name gives "//name"; the job stores the folder as the
    // session sends it.
    m_selected = text::replaceAll(remotePath(*chosen), "//", "/");
    accept();
}

void frmBrowseFTP::deleteSelected() {
    if (m_busy)
        return;
    exclusive([&] {
        QTreeWidgetItem* doomed = selectedNode();
        if (!loggedIn() || doomed == nullptr)
            return;
        const int image = imageOf(*doomed);
        if (tagOf(*doomed) == "dir")
            setImage(doomed, kImageFolderOpen);
        std::string path = remotePath(*doomed);
        const bool removed =
            ask(m_ctx.host, m_ctx.messages.format("strMsgRealyDeleteFTPDirectory", {{"%d", path}}),
                MsgIcon::Question, MsgButtons::YesNo, MsgAnswer::No) == MsgAnswer::Yes &&
            m_session->DeleteFTPDirectory(path);
        if (!removed) {
            // A kept node looks as it did.
            setImage(doomed, image);
            return;
        }
        if (QTreeWidgetItem* parent = doomed->parent())
            refill(parent);
    });
}

void frmBrowseFTP::updateNewButton() {
    m_ui->uxGraphicButton3->setEnabled(
        !text::trimBlanks(m_ui->Text1->text().toStdString()).empty());
}

std::string frmBrowseFTP::keyOf(const QTreeWidgetItem& item) {
    return item.data(0, kKeyRole).toString().toStdString();
}

std::string frmBrowseFTP::tagOf(const QTreeWidgetItem& item) {
    return item.data(0, kTagRole).toString().toStdString();
}

int frmBrowseFTP::imageOf(const QTreeWidgetItem& item) {
    return item.data(0, kImageRole).toInt();
}

std::string frmBrowseFTP::fullPath(const QTreeWidgetItem& item) {
    std::vector<const QTreeWidgetItem*> chain;
    for (const QTreeWidgetItem* at = &item; at != nullptr; at = at->parent())
        chain.push_back(at);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin())
            path += '/';
        path += (*it)->text(0).toStdString();
    }
    return path;
}

std::string frmBrowseFTP::remotePath(const QTreeWidgetItem& item) const {
    std::string path = fullPath(item);
    if (text::startsWith(path, m_host))
        path.erase(0, m_host.size());
    return path;
}

QTreeWidgetItem* frmBrowseFTP::node(const std::string& key) const {
    const auto found = m_nodes.find(key);
    return found == m_nodes.end() ? nullptr : found->second;
}

}  // namespace kestrel::ui
