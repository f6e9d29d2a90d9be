// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/frm_browse_ftp.h"

class QTreeWidgetItem;

namespace Ui {
class frmEditBackup;
}

namespace kestrel {
struct AppContext;
class JobRunner;
enum class RunnerResult;
struct JobProblem;
class LanguageFile;
class Messages;
class clsBackup;
class ctlFileBrowser;
struct FolderNode;
}  // namespace kestrel

namespace kestrel::ui {

// What the editor asks of the desktop; each has a working default, tests put their own.
struct EditorSeams {
    // The folder and file pickers; "" when the user cancelled.
    std::function<std::string(QWidget* parent, const QString& title)> pickFolder;
    std::function<std::string(QWidget* parent)> pickFile;
    // A page of the help ("edit.html#sources").
    std::function<void(const std::string& page)> openHelp;
    // The remote folder browser over a session with these fields: the chosen remote folder, or
    // nothing when the user cancelled or the server could not be used (the browser says why).
    std::function<std::optional<std::string>(QWidget* parent, const FtpFields& fields)>
        browseRemote;
    // Makes Test connection's session; empty: a real one.
    FtpClientFactory ftpSession;
    // The folder tree's drives; empty: the computer's own.
    QStringList drives;
};

// The desktop's pickers and the remote folder browser; help pages through openHelp.
EditorSeams desktopEditorSeams(AppContext& ctx, const LanguageFile& language,
                               std::function<void(const std::string& page)> openHelp);

// The split sizes the editor offers: caption and stored number (volume bytes = 2^20 * n / 100).
struct SplitChoice {
    const char* text;
    std::int32_t number;
};
const std::vector<SplitChoice>& splitChoices();
std::int32_t splitBytes(std::int32_t number);

// The monthly day list: "1st" ... "31th", then "Last day! ", in the messages' language.
QStringList monthlyDayTexts(const Messages& messages);

// Creates and changes one job: its sources, archive settings, destination and schedule.
class frmEditBackup : public QDialog {
    Q_OBJECT

public:
    frmEditBackup(AppContext& ctx, JobRunner& runner, const LanguageFile& language,
                  EditorSeams seams, QWidget* parent = nullptr);
    ~frmEditBackup() override;

    // Copies a stored job into the controls; its name can no longer be changed. A job whose
    // password cannot be read opens with the password boxes alone enabled: a new password is
    // all it takes.
    void loadJob(const clsBackup& job);
    // Whether only a new password can be given (a locked job).
    bool passwordOnly() const { return m_passwordOnly; }
    // The new-job proposal: "New backup " + number in the name box, selected, and "*.*" as the
    // include mask.
    void proposeNew(int number);
    // Selects a page (0 sources, 1 settings, 2 destination, 3 schedule).
    void showPage(int page);
    // Refills both mask lists from the remembered masks; the typed texts stay.
    void RefreshMasks();

    // Validates the controls and stores the job through the runner; true when it was stored
    // (the window is then accepted). A refusal is shown and leaves the window open.
    bool saveJob();
    // The name the job was stored under, after a save.
    const std::string& savedName() const { return m_savedName; }

    // The controls, for tests.
    Ui::frmEditBackup& form() { return *m_ui; }
    ctlFileBrowser& folderTree();
    // Adds a source row as the add buttons do; false (and a box) when it is listed already or
    // lies in a listed folder.
    bool addSource(const std::string& path, bool folder);
    // The source rows' paths, in order.
    std::vector<std::string> sourcePaths() const;
    // What a mask box losing the focus does: a new mask is kept in the first free slot.
    void rememberMask(bool include);

public slots:
    // Asks before changes are lost.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void wire();
    void onAddFile();
    void onAddFolder();
    void onRemove();
    void onCancel();
    void onArchiveType(int index);
    void onDestinationKind();
    void onBrowseLocal();
    void onBrowseRemote();
    void onTestConnection();
    void onTreeCheck(const FolderNode& node, bool checked);
    void updateScheduleControls();
    void updateDestinationState();
    // The pin field only means something with TLS; plain FTP beyond the local network is
    // warned about on the page.
    void updateTlsState();
    FtpFields ftpFields() const;
    QTreeWidgetItem* rowOf(const std::string& path) const;
    void addRow(const std::string& path, bool folder);
    // Refuses a path below a listed folder; a folder takes the place of the rows below it.
    bool admitSource(const std::string& path, bool folder);
    void restoreLayout();
    void saveLayout();
    void fail(const std::string& text, int page, QWidget* focus = nullptr);
    // Tells the problem on the page of the part at fault.
    void showProblem(const JobProblem& problem);
    // Closes the window when the job was stored; otherwise says why not.
    bool finishSave(RunnerResult result, const std::string& name, const JobProblem& problem);
    std::string msg(const char* key) const;
    int archiveType() const;
    void restrictToPassword();
    bool saveNewPassword();
    // What the controls alone show to be wrong: passwords that differ or are missing, a daily
    // schedule on no day.
    JobProblem passwordProblem() const;
    JobProblem controlsProblem() const;
    // The job the controls describe.
    std::unique_ptr<clsBackup> jobFromControls() const;
    // The job the controls describe as the store would write it: what a change changes.
    std::string controlsText() const;

    AppContext& m_ctx;
    JobRunner& m_runner;
    const LanguageFile& m_language;
    EditorSeams m_seams;
    std::unique_ptr<Ui::frmEditBackup> m_ui;
    std::string m_original;  // the stored job's name; "" for a new job
    std::string m_savedName;
    int m_lastArchiveType = 1;
    std::optional<std::int32_t> m_customSplit;  // a stored split size not in the list
    bool m_syncing = false;                     // rows and tree checks follow each other
    bool m_layoutSaved = false;
    std::optional<std::string> m_baseline;  // controlsText() when the window was first shown
    bool m_passwordOnly = false;
};

// The main window's edit command: for a protected job the password first (its request and
// outcome logged), then the editor on the page; for a job whose password cannot be read, the
// question whether to give it a new one, then the editor with the password boxes alone. True
// when the job was saved; *saved (when given) receives its name.
bool EditJob(QWidget* parent, AppContext& ctx, JobRunner& runner, const LanguageFile& language,
             const EditorSeams& seams, const std::string& name, int page,
             const std::function<bool(const std::string& expected)>& askPassword,
             std::string* saved = nullptr);

// The main window's new command: the next number of "bkpIndex" is proposed and stored, then
// the editor. True when the new job was saved.
bool NewJob(QWidget* parent, AppContext& ctx, JobRunner& runner, const LanguageFile& language,
            const EditorSeams& seams, int page, std::string* saved = nullptr);

}  // namespace kestrel::ui
