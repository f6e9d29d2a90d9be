// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QIcon>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "ftp/ftp_client.h"

class QTreeWidgetItem;

namespace Ui {
class frmBrowseFTP;
}

namespace kestrel {
struct AppContext;
class LanguageFile;
}  // namespace kestrel

namespace kestrel::ui {

// The FTP fields of the backup editor that the browser connects with.
struct FtpFields {
    std::string host;
    std::int32_t port = 21;
    std::string user;
    std::string password;
    bool passive = true;
    bool tls = false;    // the session must run inside TLS
    std::string tlsPin;  // the trusted certificate's fingerprint, "" for none
};

// The remote folder browser: a tree of the server's folders, loaded a level at a time as they are
// expanded, in which the user picks the job's remote folder and may create and remove folders.
//
// Nodes: the root ("keyRoot") reads host + the start folder the server reports; every other node
// is a listing entry whose key and full path are its parent's full path, "/" and its name. A
// node's remote path is its full path without the host at its start, so with the start folder
// "/" the child "backup" is "//backup" (the session makes "//" one "/" when it sends a path).
// A folder not listed yet holds one placeholder child "-" keyed by its own key + "NULL".
//
// The session yields to the event loop while it waits, so clicks and keys arrive while it works.
// It is never entered twice: an expand that comes meanwhile is done when the running operation
// has returned, a close (Select, Cancel, Escape, the title bar) then closes, and Delete, New and
// Start are refused.
class frmBrowseFTP : public QDialog {
    Q_OBJECT

public:
    enum class StartResult { Ok, CantConnect, CantList };

    // Node images, by their index in the window's image list.
    static constexpr int kImageFolder = 1;
    static constexpr int kImageFolderOpen = 3;
    static constexpr int kImageFile = 4;

    // ctx must outlive the window. factory makes the window's session (tests give a scripted
    // one).
    frmBrowseFTP(AppContext& ctx, const LanguageFile& language, QWidget* parent = nullptr,
                 FtpClientFactory factory = makeFtpClient);
    // Disconnects and releases the session when one is left.
    ~frmBrowseFTP() override;

    // Makes a new session from the fields, connects and logs in, and fills the root node with the
    // first level. CantConnect when the connection or the login failed, CantList when the server
    // told no start folder or no listing; the session is then released. Clears an earlier
    // result.
    StartResult Start(const FtpFields& fields);
    // The remote path of the node chosen with Select, as the editor's remote folder field takes
    // it; empty when the window was closed otherwise.
    std::string selectedPath() const { return m_selected; }

    void retranslate(const LanguageFile& language);

    // Replaces the node's children by a fresh listing of the session's current remote folder,
    // leaving out "." and ".." (and nameless lines), which are no folders to choose or remove.
    // Refused while the session is busy.
    void FillFolderNode(QTreeWidgetItem* node);

    // The commands, also for tests: New (uxGraphicButton3), Select (uxGraphicButton1) and the
    // Delete key of the tree.
    void newFolder();
    void selectFolder();
    void deleteSelected();

    // Closes the window, after the running session operation when there is one; every close
    // disconnects and releases the session.
    void done(int result) override;

    // A node's key, tag ("dir" or "file", empty for a placeholder) and image index.
    static std::string keyOf(const QTreeWidgetItem& node);
    static std::string tagOf(const QTreeWidgetItem& node);
    static int imageOf(const QTreeWidgetItem& node);
    // The texts from the root down, joined with "/".
    static std::string fullPath(const QTreeWidgetItem& node);
    // The full path without the host at its start.
    std::string remotePath(const QTreeWidgetItem& node) const;
    // The listed node with that key (not a placeholder), or null.
    QTreeWidgetItem* node(const std::string& key) const;

    bool hasSession() const { return m_session != nullptr; }
    bool busy() const { return m_busy; }
    Ui::frmBrowseFTP& form() { return *m_ui; }

private:
    void onExpanded(QTreeWidgetItem* node);
    void onCollapsed(QTreeWidgetItem* node);
    void onClicked(QTreeWidgetItem* node);
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Runs work as the one user of the session, then what came meanwhile: a close, or expands.
    void exclusive(const std::function<void()>& work);
    void drain();
    void expand(QTreeWidgetItem* node);
    bool fill(QTreeWidgetItem* node);
    // Changes to the node's folder and fills it, so that a refill lists that folder and not
    // the one last expanded.
    void refill(QTreeWidgetItem* node);
    void expandQuietly(QTreeWidgetItem* node);
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const std::string& key,
                             const std::string& name, bool folder);
    void removeChildren(QTreeWidgetItem* node);
    void forget(QTreeWidgetItem* node);
    void setImage(QTreeWidgetItem* node, int image);
    QTreeWidgetItem* selectedNode() const;
    bool loggedIn() const;
    void closeSession();
    void updateNewButton();

    AppContext& m_ctx;
    FtpClientFactory m_factory;
    std::unique_ptr<Ui::frmBrowseFTP> m_ui;
    std::array<QIcon, 5> m_images;
    std::unique_ptr<FtpClient> m_session;
    std::string m_host;
    std::string m_selected;
    std::unordered_map<std::string, QTreeWidgetItem*> m_nodes;
    bool m_busy = false;
    bool m_draining = false;
    bool m_quietExpand = false;
    std::deque<std::string> m_pendingExpands;  // keys
    std::optional<int> m_pendingClose;
};

}  // namespace kestrel::ui
