// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "ftp/ftp_client.h"

class QAbstractItemView;
class QActionGroup;
class QLabel;
class QModelIndex;

namespace Ui {
class frmBrowseRestoreList;
}

namespace kestrel {
struct AppContext;
class JobRunner;
class LanguageFile;
struct RestoreState;
}  // namespace kestrel

namespace kestrel::ui {

class RestoreModel;
class RestoreSearchModel;
class RestoreSortModel;
class frmBrowseRestoreList;

// What the restore browser asks of the desktop; each has a working default, tests put their own.
struct RestoreSeams {
    // The folder picker; "" when the user cancelled.
    std::function<std::string(QWidget* parent, const QString& title)> pickFolder;
    // Makes the session for a job with an FTP destination.
    FtpClientFactory ftp = makeFtpClient;
    // Shows the browser until it is closed; empty: modally.
    std::function<void(frmBrowseRestoreList& browser)> show;
    // Asks for the password of a catalogue kept from before a password change (the question's
    // text is given); nothing when the user cancelled.
    std::function<std::optional<std::string>(QWidget* parent, const QString& question)> askPassword;
};

// The desktop's folder picker, sessions and modal window.
RestoreSeams desktopRestoreSeams();

// The window in which the user picks files of a job's backup sessions and restores them: the
// sessions, folders and files as a tree on the left, the children of the chosen node as a list
// on the right (one model, both views), a search over the files of every session, and the
// number and size of the checked files in the status bar.
//
// While a restore runs (it yields to the event loop) nothing that would start a second one or
// change the checks is possible, and the window refuses to close until it has returned. Every
// close disconnects the state's FTP session, if any.
class frmBrowseRestoreList : public QDialog {
    Q_OBJECT

public:
    enum class View { Icons = 0, SmallIcons, List, Report };

    // ctx, runner and state must outlive the window; the state is the one openRestore filled.
    frmBrowseRestoreList(AppContext& ctx, JobRunner& runner, RestoreState& state,
                         const LanguageFile& language, RestoreSeams seams,
                         QWidget* parent = nullptr);
    ~frmBrowseRestoreList() override;

    void retranslate(const LanguageFile& language);

    // The commands, also for tests.
    // Shows a tree node's children in the list (and selects the node in the tree).
    void showNode(int node);
    // Opens a "dir" item of the list; nothing for a file.
    void openItem(const QModelIndex& listIndex);
    // One level up; nothing on a session node or without a selection.
    void goUp();
    void setView(View view);
    // The question, the folder, then the restore; refused while one runs.
    void restoreFiles();
    // Closes the window, refused while a restore runs.
    void done(int result) override;

    // The tree node whose children the list shows; -1 for none.
    int shownNode() const { return m_shown; }
    View view() const { return m_view; }
    bool restoring() const { return m_restoring; }
    // The text of the status bar.
    QString statusText() const;

    RestoreModel& model() { return *m_model; }
    RestoreSortModel& sortModel() { return *m_sort; }
    RestoreSearchModel& searchModel() { return *m_search; }
    Ui::frmBrowseRestoreList& form() { return *m_ui; }
    // The list as the view shows it (lvListView in Report, else lvListIcons).
    QAbstractItemView& listView();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void wire();
    void onSearch(const QString& text);
    void updateStatus();
    void setRestoring(bool restoring);
    void closeSession();
    void restoreLayout();
    void saveLayout();

    AppContext& m_ctx;
    JobRunner& m_runner;
    RestoreState& m_state;
    RestoreSeams m_seams;
    std::unique_ptr<Ui::frmBrowseRestoreList> m_ui;
    RestoreModel* m_model = nullptr;  // owned by the window
    RestoreSortModel* m_sort = nullptr;
    RestoreSearchModel* m_search = nullptr;
    QActionGroup* m_views = nullptr;
    QLabel* m_status = nullptr;
    int m_shown = -1;
    View m_view = View::Report;
    bool m_restoring = false;
};

// What the FTP step of a restore found, with the values it has always had.
enum class FtpSetup { Failed = -1, NotFtp = 1, Connected = 2, NoSuchJob = 3 };

// The main window's FTP step of a restore: for a job with an FTP destination, a logged-in
// session (made by factory) into state.ftp; Failed when the connection or login failed.
FtpSetup SetupFTPConnection(AppContext& ctx, RestoreState& state, const JobRunner& runner,
                            const std::string& name, const FtpClientFactory& factory);

// The main window's restore command for an archive job: the FTP session for an FTP job ("Can't
// connect to ftp server!" when it fails), the catalogue under the hourglass ("Failed to create
// restore list!" when it cannot be had), then the browser until it is closed.
void OpenRestoreBrowser(QWidget* parent, AppContext& ctx, JobRunner& runner,
                        const LanguageFile& language, const RestoreSeams& seams,
                        const std::string& job);

}  // namespace kestrel::ui
