// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <algorithm>

#include "core/app_context.h"
#include "core/language_file.h"
#include "jobs/next_start.h"
#include "platform/text.h"
#include "ui/icons.h"
#include "ui/job_row.h"
#include "ui/language.h"
#include "ui/layout_memory.h"
#include "ui/notify.h"
#include "ui/tray_icon.h"
#include "ui/version.h"
#include "ui_frm_main.h"

namespace kestrel::ui {

namespace {

constexpr int kLogListLines = 1000;
constexpr int kFlushMs = 50;
const char* const kWindowSection = "frmMain";
const char* const kListSection = "frmMain-ListView1";

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

frmMain::frmMain(AppContext& ctx, JobRunner& runner, std::function<const LanguageFile&()> language,
                 MainSeams seams, QWidget* parent)
    : QMainWindow(parent),
      m_ctx(ctx),
      m_runner(runner),
      m_language(std::move(language)),
      m_seams(std::move(seams)),
      m_ui(std::make_unique<Ui::frmMain>()) {
    m_ui->setupUi(this);
    m_ui->List1->setVisible(false);
    m_ui->List1->setUniformItemSizes(true);

    m_panel1 = new QLabel(this);
    m_panel1->setObjectName("StatusBar1Panel1");
    m_panel2 = new QLabel(this);
    m_panel2->setObjectName("StatusBar1Panel2");
    m_panel2->setFrameShape(QFrame::Panel);
    m_panel2->setFrameShadow(QFrame::Raised);
    m_panel2->setMinimumWidth(200);
    m_panel2->installEventFilter(this);
    m_panel2->setCursor(Qt::PointingHandCursor);
    m_ui->StatusBar1->addWidget(m_panel1, 1);
    m_ui->StatusBar1->addWidget(m_panel2, 3);
    // Scheduled runs held back while the window shows must not go unnoticed.
    m_scheduleHeld = new QLabel(this);
    m_scheduleHeld->setObjectName("StatusBar1Panel3");
    m_ui->StatusBar1->addPermanentWidget(m_scheduleHeld);

    // The log button's drop-down holds the log file.
    auto* logMenu = new QMenu(this);
    logMenu->addAction(m_ui->keyNotepad);
    m_ui->keyLog->setMenu(logMenu);
    if (auto* button = qobject_cast<QToolButton*>(m_ui->Toolbar1->widgetForAction(m_ui->keyLog))) {
        button->setPopupMode(QToolButton::MenuButtonPopup);
    }
    for (QAction* button : m_ui->Toolbar1->actions()) {
        if (!button->isSeparator())
            button->setIcon(iconFor(button->objectName()));
    }
    m_ui->keyNotepad->setIcon(iconFor("keyNotepad"));
    // No web site of the maker to open.
    m_ui->mniBrightmoor->setVisible(false);

    m_ui->ListView1->header()->setSectionsMovable(false);
    m_ui->ListView1->installEventFilter(this);
    // A first start shows what to do instead of an empty list.
    m_noJobs = new QLabel(m_ui->ListView1->viewport());
    m_noJobs->setObjectName("lblNoJobs");
    m_noJobs->setWordWrap(true);
    m_noJobs->setAlignment(Qt::AlignCenter);
    m_noJobs->setEnabled(false);
    m_noJobs->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* hint = new QVBoxLayout(m_ui->ListView1->viewport());
    hint->addWidget(m_noJobs, 0, Qt::AlignTop);

    m_trayIcon = ownIcon("kestrel");
    m_trayPaused = ownIcon("kestrel-paused");
    setWindowIcon(m_trayIcon);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = std::make_unique<QSystemTrayIcon>(m_trayIcon);
        m_tray->setContextMenu(m_ui->mniTray);
        m_tray->setToolTip(q("Ready ...\r\nKestrel v" + std::to_string(kVersionMajor) + "." +
                             std::to_string(kVersionMinor)));
        connect(m_tray.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::DoubleClick)
                        showAndRaise();
                });
        m_tray->show();
    }

    m_flush.setSingleShot(true);
    m_flush.setInterval(kFlushMs);
    connect(&m_flush, &QTimer::timeout, this, &frmMain::flushPending);

    m_schedTimer.setObjectName("schedTimer");
    m_schedTimer.setInterval(1000);
    connect(&m_schedTimer, &QTimer::timeout, this, [this] {
        if (m_tick)
            m_tick();
    });
    m_timer2.setObjectName("Timer2");
    m_timer2.setInterval(500);
    connect(&m_timer2, &QTimer::timeout, this, &frmMain::blinkStep);

    m_designedCaption = windowTitle().toStdString();
    m_caption = "Kestrel-ver" + std::to_string(kVersionMajor) + "." +
                std::to_string(kVersionMinor) + " rev. " + std::to_string(kVersionRevision);
    setWindowTitle(q(m_caption));

    wireCommands();
    restoreLayout();
    loadLogTail();
    m_runner.addObserver(this);
    UpdateForm();
}

frmMain::~frmMain() {
    m_runner.removeObserver(this);
}

void frmMain::wireCommands() {
    auto& u = *m_ui;
    for (QAction*& command : m_commands)
        command = new QAction(this);
    const auto on = [this](QAction* action, auto fn) {
        connect(action, &QAction::triggered, this, fn);
    };
    const auto help = [this] {
        if (m_seams.openHelp)
            m_seams.openHelp("index.html");
    };
    on(&command(Command::New), [this] { newJob(); });
    on(&command(Command::Edit), [this] { editJob(m_editorPage); });
    on(&command(Command::Delete), [this] { deleteJob(); });
    on(&command(Command::Backup), [this] { backupNow(); });
    on(&command(Command::Restore), [this] { restoreJob(); });
    on(&command(Command::Help), help);
    on(&command(Command::Quit), [this] {
        if (m_seams.quit)
            m_seams.quit(true);
    });
    on(&command(Command::About), [this] {
        if (m_seams.openAbout)
            m_seams.openAbout();
    });
    on(&command(Command::HideAll), [this] {
        if (m_tray) {
            hideAll();
        } else if (m_seams.quit) {
            // Without a tray, a hidden window could not be reached again.
            m_seams.quit(true);
        }
    });

    const std::pair<Command, std::vector<QObject*>> controls[] = {
        {Command::New, {u.keyNew, u.mniNewBackup, u.cmdNew}},
        {Command::Edit, {u.keyEdit, u.mniEditBackup, u.cmdEdit}},
        {Command::Delete, {u.keyDelete, u.mniDeleteBackup, u.cmdDelete}},
        {Command::Backup, {u.keyBackup, u.mniBackup1, u.cmdBackup}},
        {Command::Restore, {u.keyRestore, u.mniRestorFiles, u.cmdRestore}},
        {Command::Help, {u.keyHelp, u.mniContents, u.mnium}},
        {Command::Quit, {u.keyClose, u.mniQuit, u.mniExit, u.cmdClose}},
        {Command::About, {u.mniaboutmenu, u.mniabout}},
        // Every change is in the store as soon as it is made; "save" has nothing left to write.
        {Command::HideAll, {u.mniMinimize, u.cmdSaveandClose}},
    };
    const QObject* const jobControls[] = {u.keyRestore, u.mniBackup1, u.mniEditBackup,
                                          u.mniDeleteBackup};
    for (const auto& [which, list] : controls) {
        for (QObject* control : list)
            bind(which, control, std::ranges::find(jobControls, control) != std::end(jobControls));
    }

    const auto page = [this](int number) {
        return [this, number] {
            m_editorPage = number;
            editJob(m_editorPage);
        };
    };
    on(u.mniSource, page(0));
    on(u.mniASettings, page(1));
    on(u.mniDestination, page(2));
    on(u.mniSchedule, page(3));
    on(u.keyLog, [this] { toggleLog(); });
    on(u.keyNotepad, [this] { openLogFile(); });
    on(u.mniIndex, help);
    on(u.mniWhatsthis, [] { QWhatsThis::enterWhatsThisMode(); });
    on(u.mniProgramSetings, [this] {
        if (m_seams.openSettings && !m_runner.busy())
            m_seams.openSettings();
    });
    on(u.mniShow, [this] { showAndRaise(); });
    on(u.mniPause, [this] { togglePause(); });
    on(u.mniAbortBackup, [this] {
        if (!m_runner.busy())
            return;
        if (!isVisible() || ask(m_ctx.host, m_ctx.msg("strMsgRealyCancel"), MsgIcon::Question,
                                MsgButtons::YesNo, MsgAnswer::No) == MsgAnswer::Yes) {
            m_runner.abort();
        }
    });

    connect(u.ListView1, &QTreeWidget::itemClicked, this, [this] { ShowRestorecommands(); });
    connect(u.ListView1, &QTreeWidget::itemDoubleClicked, this,
            [this] { command(Command::Edit).trigger(); });
    connect(u.ListView1, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showListMenu(at); });
    // The job commands follow the selection, from the start and after every rebuild.
    connect(u.ListView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* row) { row ? ShowRestorecommands() : HideRestoreCommands(); });
    // What a popup without a row turned off comes back when it closes.
    connect(u.mnuList, &QMenu::aboutToHide, this, [this] {
        m_ui->mniBackup->menuAction()->setEnabled(true);
        m_ui->ListView1->currentItem() ? ShowRestorecommands() : HideRestoreCommands();
    });
}

void frmMain::bind(Command which, QObject* control, bool jobControl) {
    QAction* const target = &command(which);
    if (auto* item = qobject_cast<QAction*>(control)) {
        connect(item, &QAction::triggered, target, &QAction::trigger);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        connect(button, &QAbstractButton::clicked, target, &QAction::trigger);
    }
    m_controls.push_back({control, target, jobControl});
}

void frmMain::syncControls() {
    for (const Control& c : m_controls) {
        const bool enabled = c.command->isEnabled() && (!c.jobControl || m_restoreShown);
        if (auto* item = qobject_cast<QAction*>(c.control)) {
            item->setEnabled(enabled);
            item->setToolTip(c.command->toolTip());
        } else if (auto* button = qobject_cast<QAbstractButton*>(c.control)) {
            button->setEnabled(enabled);
            button->setToolTip(c.command->toolTip());
        }
    }
}

void frmMain::setMenuIcons() {
    static const std::pair<const char*, const char*> kIcons[] = {
        {"mniQuit", "keyClose"},
        {"mniNewBackup", "keyNew"},
        {"mniEditBackup", "keyEdit"},
        {"mniDeleteBackup", "keyDelete"},
        {"mniSource", "keySource"},
        {"mniASettings", "keySettings"},
        {"mniDestination", "keyDestination"},
        {"mniSchedule", "keySchedule"},
        {"mniExit", "keyClose"},
        {"mnium", "keyHelp"},
        {"mniIndex", "keyIndex"},
        {"mniBrightmoor", "keyWEB"},
        {"mniBackup1", "keyBackup"},
        {"mniRestorFiles", "keyRestore"},
        {"mniPause", "keyPause"},
        // Abort is no pause: its own picture.
        {"mniAbortBackup", "keyAbort"},
        {"mniContents", "keyContents"},
        {"mniWhatsthis", "keyWhats"},
        {"mniBackup", "keyProperties"},
        {"mniShow", "keyRestoreW"},
        {"mniMinimize", "keyMinimize"},
        {"mniaboutmenu", "keyAbout"},
        {"mniabout", "keyAbout"},
    };
    for (const auto& [name, key] : kIcons) {
        if (auto* action = findChild<QAction*>(name)) {
            action->setIcon(iconFor(key));
        } else if (auto* menu = findChild<QMenu*>(name)) {
            menu->setIcon(iconFor(key));
        }
    }
}

void frmMain::applyLanguage() {
    const LanguageFile& language = m_language();
    ApplyLanguage(*this, language);
    if (auto caption = language.caption(kWindowSection, "Caption")) {
        m_caption = text::replaceAll(*caption, "%v", versionText());
    } else {
        m_caption = text::replaceAll(m_designedCaption, "%v", versionText());
    }
    setWindowTitle(q(m_caption + m_captionSuffix));
    setPauseCaption();
    updateCommands();
    UpdateForm();
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_activated) {
        m_activated = true;
        applyLanguage();
        setMenuIcons();
    }
}

void frmMain::UpdateForm() {
    QTreeWidget& list = *m_ui->ListView1;
    const std::string selected = selectedJob();
    list.clear();
    const DateTime now = m_ctx.clock.now();
    int tag = 0;
    for (const auto& shared : m_runner.jobs()) {
        clsBackup& job = *shared;
        auto* row = new QTreeWidgetItem(&list);
        row->setText(0, q(std::string(text::trimSpace(job.sName))));
        row->setIcon(0, iconFor(q(jobIconKey(job))));
        row->setData(0, Qt::UserRole, q(job.sName));
        row->setData(0, Qt::UserRole + 1, ++tag);
        row->setText(1, q(jobTypeText(job, m_ctx.messages)));
        row->setText(2, q(nextRunText(job, now, m_ctx.messages)));
        row->setText(3, q(lastRunText(job, now, m_ctx.messages)));
        row->setText(4, q(destinationText(job)));
        if (job.passwordUnreadable) {
            const QString why = q(m_ctx.messages.format("strMsgJobLocked", {{"%d", job.sName}}));
            for (int column = 0; column < list.columnCount(); ++column)
                row->setToolTip(column, why);
        }
        if (job.sName == selected)
            list.setCurrentItem(row);
    }
    m_noJobs->setText(q(m_ctx.msg("strMsgNoJobsYet")));
    m_scheduleHeld->setText(q(m_ctx.msg("strMsgSchedWaitWhileOpen")));
    m_scheduleHeld->setVisible(m_ctx.settings.blockSchedule);
    m_noJobs->setVisible(list.topLevelItemCount() == 0);
    updateCommands();
}

std::string frmMain::selectedJob() const {
    const QTreeWidgetItem* row = m_ui->ListView1->currentItem();
    return row == nullptr ? std::string() : row->data(0, Qt::UserRole).toString().toStdString();
}

void frmMain::selectJob(const std::string& name) {
    QTreeWidget& list = *m_ui->ListView1;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        if (list.topLevelItem(i)->data(0, Qt::UserRole).toString().toStdString() == name) {
            list.setCurrentItem(list.topLevelItem(i));
            return;
        }
    }
}

void frmMain::HideRestoreCommands() {
    m_restoreShown = false;
    updateCommands();
}

void frmMain::ShowRestorecommands() {
    m_restoreShown = true;
    updateCommands();
}

void frmMain::updateCommands() {
    auto& u = *m_ui;
    const bool idle = !m_runner.busy();
    const std::string name = selectedJob();
    const auto job = name.empty() ? nullptr : m_runner.job(name);
    const bool editor = static_cast<bool>(m_seams.openEditor);
    // Plain copies are browsed in the file manager; archives need the restore browser.
    const bool browser = !job || !job->archived || static_cast<bool>(m_seams.openRestoreBrowser);
    const QString later = q(m_ctx.msg("strMsgNotYetAvailable"));
    // The actions have no text of their own, so the tooltip is only ever the reason.
    const auto set = [&](QAction& command, bool enabled, bool present = true) {
        command.setEnabled(enabled && present);
        command.setToolTip(present ? QString() : later);
    };
    const bool chosen = idle && job != nullptr;
    set(command(Command::New), idle, editor);
    set(command(Command::Edit), chosen, editor);
    for (QAction* page : {u.mniSource, u.mniASettings, u.mniDestination, u.mniSchedule})
        set(*page, chosen, editor);
    set(command(Command::Delete), chosen);
    set(command(Command::Backup), chosen);
    set(command(Command::Restore), chosen, browser);
    u.mniProgramSetings->setEnabled(idle && static_cast<bool>(m_seams.openSettings));
    u.mniPause->setEnabled(!idle);
    u.mniAbortBackup->setEnabled(!idle);
    syncControls();
}

void frmMain::applyStyle(int style) {
    const bool bars = style == 1;
    if (style != 0 && style != 1)
        return;
    m_ui->Toolbar1->setVisible(bars);
    m_ui->StatusBar1->setVisible(bars);
    for (QPushButton* button : {m_ui->cmdBackup, m_ui->cmdDelete, m_ui->cmdEdit, m_ui->cmdRestore,
                                m_ui->cmdNew, m_ui->cmdSaveandClose, m_ui->cmdClose}) {
        button->setVisible(!bars);
    }
}

void frmMain::error(const std::string& text) {
    tell(m_ctx.host, text, MsgIcon::Critical);
}

void frmMain::newJob() {
    if (m_runner.busy() || !m_seams.openEditor)
        return;
    m_seams.openEditor("", m_editorPage);
}

void frmMain::editJob(int page) {
    const std::string name = selectedJob();
    if (name.empty()) {
        error(m_ctx.msg("strMsgSelectBkpFirst"));
        return;
    }
    if (m_runner.busy() || !m_seams.openEditor)
        return;
    m_seams.openEditor(name, page);
}

void frmMain::deleteJob() {
    const std::string name = selectedJob();
    if (name.empty() || m_runner.busy())
        return;
    if (const auto locked = m_runner.job(name); locked && locked->passwordUnreadable) {
        // Told before the question: the answer would not matter.
        error(m_runner.refusalText(RunnerResult::PasswordUnreadable, name));
        return;
    }
    if (ask(m_ctx.host, m_ctx.msg("strMsgRealyDelBackup"), MsgIcon::Question, MsgButtons::YesNo,
            MsgAnswer::No) != MsgAnswer::Yes) {
        return;
    }
    const auto job = m_runner.job(name);
    if (!job)
        return;
    std::optional<std::string> password;
    if (job->Protected && !job->password.empty()) {
        // The runner compares again and logs the request and its outcome.
        if (m_seams.askPassword && m_seams.askPassword(job->password))
            password = job->password;
    }
    const RunnerResult r = m_runner.removeJob(name, password);
    if (r == RunnerResult::WrongPassword) {
        error(m_ctx.messages.format("strMsgWrongPWDel", {{"%d", name}}));
    } else if (r != RunnerResult::Done) {
        error(m_runner.refusalText(r, name));
    }
    UpdateForm();
}

void frmMain::backupNow() {
    const std::string name = selectedJob();
    if (name.empty()) {
        error("Please select a backup first!");
        return;
    }
    if (m_runner.busy()) {
        error(m_runner.refusalText(RunnerResult::Busy, name));
        return;
    }
    const RunnerResult r = m_runner.RunBackup(name);
    if (r != RunnerResult::Done && r != RunnerResult::Quitting) {
        error(m_runner.refusalText(r, name));
    }
    UpdateForm();
}

void frmMain::restoreJob() {
    const std::string name = selectedJob();
    if (name.empty()) {
        error(m_ctx.msg("strMsgSelectBkpFirst"));
        return;
    }
    const auto job = m_runner.job(name);
    if (!job || m_runner.busy())
        return;
    if (!job->archived) {
        if (m_seams.openFile)
            m_seams.openFile(job->sDestinationDir);
        return;
    }
    if (job->passwordUnreadable) {
        error(m_runner.refusalText(RunnerResult::PasswordUnreadable, name));
        return;
    }
    if (m_seams.openRestoreBrowser)
        m_seams.openRestoreBrowser(name);
}

void frmMain::togglePause() {
    if (!m_runner.busy())
        return;
    m_runner.setPaused(!m_runner.paused());
    if (m_seams.pauseChanged)
        m_seams.pauseChanged();
    syncPause();
}

void frmMain::syncPause() {
    setPauseCaption();
    if (m_runner.paused()) {
        m_timer2.start();
    } else {
        m_timer2.stop();
        blinkStep();
    }
}

void frmMain::setPauseCaption() {
    m_ui->mniPause->setText(q(m_ctx.msg(m_runner.paused() ? "strMsgContinue" : "strMsgPause")));
}

void frmMain::blinkStep() {
    if (!m_runner.paused()) {
        m_timer2.stop();
        m_blinkOn = false;
        if (m_tray)
            m_tray->setIcon(m_trayIcon);
        return;
    }
    m_blinkOn = !m_blinkOn;
    if (m_tray) {
        m_tray->setIcon(m_blinkOn ? m_trayPaused : m_trayIcon);
        m_tray->setToolTip(q(trayTipText(m_ctx.msg("strMsgPaused"))));
    }
}

void frmMain::toggleLog() {
    const bool show = !m_ui->List1->isVisible();
    m_ui->List1->setVisible(show);
    if (show)
        m_ui->List1->scrollToBottom();
    m_panel2->setFrameShadow(show ? QFrame::Sunken : QFrame::Raised);
}

void frmMain::showLog() {
    showAndRaise();
    if (!m_ui->List1->isVisible())
        toggleLog();
}

void frmMain::loadLogTail() {
    // The list begins with the end of the log file: the start-up lines and the runs before.
    constexpr qint64 kTailBytes = 256 * 1024;
    QFile file(q(m_ctx.paths.path("logs/kestrel.log")));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const bool cut = file.size() > kTailBytes;
    if (cut)
        file.seek(file.size() - kTailBytes);
    QList<QByteArray> lines = file.readAll().split('\n');
    if (cut && !lines.isEmpty())
        lines.removeFirst();
    for (const QByteArray& line : lines) {
        const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
        if (!text.isEmpty())
            addLogLine(text.toStdString());
    }
}

bool frmMain::logVisible() const {
    return m_ui->List1->isVisibleTo(this);
}

void frmMain::openLogFile() {
    if (m_seams.openFile)
        m_seams.openFile(m_ctx.paths.path("logs/kestrel.log"));
}

void frmMain::addLogLine(const std::string& stampedLine) {
    // A run logs a line per file: the list and the status bar take them at most 20 times a
    // second, all at once.
    m_pendingLog.push_back(stampedLine);
    if (m_pendingLog.size() > static_cast<size_t>(kLogListLines)) {
        m_pendingLog.pop_front();
    }
    scheduleFlush();
}

void frmMain::setStatusText(int panel, const std::string& text) {
    m_pendingStatus[panel == 1 ? 0 : 1] = text;
    scheduleFlush();
}

void frmMain::scheduleFlush() {
    if (!m_flush.isActive())
        m_flush.start();
}

void frmMain::flushPending() {
    QListWidget& list = *m_ui->List1;
    for (const std::string& line : m_pendingLog)
        list.addItem(q(line));
    const bool added = !m_pendingLog.empty();
    m_pendingLog.clear();
    while (list.count() > kLogListLines)
        delete list.takeItem(0);
    if (added && list.isVisible())
        list.scrollToBottom();
    for (int panel = 0; panel < 2; ++panel) {
        if (auto& text = m_pendingStatus[panel]) {
            (panel == 0 ? m_panel1 : m_panel2)->setText(q(*text));
            text.reset();
        }
    }
}

void frmMain::setCaptionSuffix(const std::string& suffix) {
    m_captionSuffix = suffix;
    setWindowTitle(q(m_caption + m_captionSuffix));
}

void frmMain::setTrayTip(const std::string& text) {
    const std::string tip = trayTipText(text);
    if (m_tray && tip != m_lastTip)
        m_tray->setToolTip(q(tip));
    m_lastTip = tip;
}

void frmMain::setTrayProgress(double percent) {
    if (m_tray && !m_runner.paused()) {
        m_tray->setIcon(QIcon(QPixmap::fromImage(drawProgressIcon(percent, 32))));
    }
}

void frmMain::trayMessage(const std::string& text, bool failure) {
    if (m_tray && QSystemTrayIcon::supportsMessages()) {
        m_tray->showMessage("Kestrel", q(text),
                            failure ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
    } else {
        // Without a tray the desktop's notifications are the one place left to say it.
        (void)desktopNotify("Kestrel", text, failure);
    }
}

void frmMain::hideAll() {
    // Only the program's own windows: on an XEmbed tray the icon is a top-level window too, and
    // an open message box would wait unseen for an answer.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->objectName().startsWith("frm"))
            window->hide();
    }
}

void frmMain::showAndRaise() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void frmMain::activityStarted(const Activity&) {
    updateCommands();
}

void frmMain::activityFinished(const Activity&) {
    if (m_tray)
        m_tray->setIcon(m_trayIcon);
    m_timer2.stop();
    setPauseCaption();
    UpdateForm();
}

void frmMain::jobsChanged() {
    UpdateForm();
}

void frmMain::showListMenu(const QPoint& at) {
    QTreeWidgetItem* row = m_ui->ListView1->itemAt(at);
    if (row != nullptr) {
        m_ui->ListView1->setCurrentItem(row);
        ShowRestorecommands();
    } else {
        HideRestoreCommands();
    }
    if (row == nullptr) {
        // Only New and Quit need no job; the rest come back when the popup closes.
        for (QAction* a : m_ui->mnuList->actions()) {
            if (a != m_ui->mniNewBackup && a != m_ui->mniQuit)
                a->setEnabled(false);
        }
    }
    m_ui->mnuList->popup(m_ui->ListView1->viewport()->mapToGlobal(at));
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_panel2 && event->type() == QEvent::MouseButtonRelease) {
        m_ui->keyLog->trigger();
        return true;
    }
    if (watched == m_ui->ListView1 && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                // The command is off without a selection; the key still says why.
                if (selectedJob().empty()) {
                    error(m_ctx.msg("strMsgSelectBkpFirst"));
                } else {
                    command(Command::Edit).trigger();
                }
                return true;
            case Qt::Key_Insert:
                command(Command::New).trigger();
                return true;
            case Qt::Key_Delete:
                command(Command::Delete).trigger();
                return true;
            case Qt::Key_F5:
                UpdateForm();
                return true;
            default:
                break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray) {
        // Hidden after the state change is done, or the window manager shows it again.
        QTimer::singleShot(0, this, [this] { hide(); });
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    saveLayout();
    event->ignore();
    if (m_tray) {
        hideAll();
    } else if (m_seams.quit) {
        // Without a tray, a hidden window could not be reached again.
        m_seams.quit(true);
    }
}

void frmMain::restoreLayout() {
    const auto setting = [this](const char* section, const std::string& name) {
        return m_ctx.settings.GetSetting(kSettingsArea, section, name);
    };
    const int width = static_cast<int>(text::leadingInt(setting(kWindowSection, "Width")));
    const int height = static_cast<int>(text::leadingInt(setting(kWindowSection, "Height")));
    if (width >= 300 && height >= 200) {
        resize(width, height);
        const std::string left = setting(kWindowSection, "Left");
        const std::string top = setting(kWindowSection, "Top");
        if (!left.empty() && !top.empty()) {
            move(static_cast<int>(text::leadingInt(left)), static_cast<int>(text::leadingInt(top)));
        }
    }
    static const int kDefaults[] = {150, 175, 215, 130, 260};
    restoreColumnWidths(m_ctx.settings, kListSection, *m_ui->ListView1->header(), kDefaults, 5, 20);
}

void frmMain::saveLayout() {
    const auto save = [this](const char* section, const std::string& name, int value) {
        (void)m_ctx.settings.SaveSetting(kSettingsArea, section, name, std::to_string(value));
    };
    if (!isMinimized() && !isMaximized()) {
        save(kWindowSection, "Left", x());
        save(kWindowSection, "Top", y());
        save(kWindowSection, "Width", width());
        save(kWindowSection, "Height", height());
    }
    saveColumnWidths(m_ctx.settings, kListSection, *m_ui->ListView1->header());
}

}  // namespace kestrel::ui
