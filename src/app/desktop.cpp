// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop.h"

#include <QApplication>
#include <QDialog>
#include <QLocalSocket>
#include <QLocale>
#include <QUrl>
#include <functional>

#include "core/app_context.h"
#include "platform/instance_channel.h"
#include "platform/process.h"
#include "runner/runner_scheduler.h"
#include "ui/frm_about.h"
#include "ui/frm_browse_restore_list.h"
#include "ui/frm_edit_backup.h"
#include "ui/frm_main.h"
#include "ui/frm_password.h"
#include "ui/frm_settings.h"
#include "ui/frm_splash.h"
#include "ui/open_on_desktop.h"
#include "ui/progress.h"
#include "ui/qt_host.h"

namespace kestrel {

namespace {

constexpr int kAnswerWaitMs = 2000;
constexpr int kStopPollMs = 200;

// A file or folder in the desktop's program for it; a box when there is none.
void openLocal(Host& host, const Messages& messages, const std::string& path,
               const std::string& fragment = {}) {
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
    if (!fragment.empty())
        url.setFragment(QString::fromStdString(fragment));
    const std::string failed = messages.format("strMsgCantOpen", {{"%s", path}});
    ui::openOnDesktop(url, [&host, failed](bool opened) {
        if (!opened)
            tell(host, failed, MsgIcon::Critical);
    });
}

// A help page, "edit.html#schedule" with its place on the page.
void openHelpPage(Host& host, const AppContext& ctx, const std::string& page) {
    const size_t hash = page.find('#');
    const std::string name = "help/" + page.substr(0, hash);
    const auto file = ctx.paths.findAsset(name);
    if (!file) {
        tell(host, ctx.messages.format("strMsgCantOpen", {{"%s", name}}), MsgIcon::Critical);
        return;
    }
    openLocal(host, ctx.messages, *file, hash == std::string::npos ? "" : page.substr(hash + 1));
}

}  // namespace

WindowedDesktop::WindowedDesktop(ui::QtHost& host) : m_host(host) {
    m_stopPoll.setInterval(kStopPollMs);
}

WindowedDesktop::~WindowedDesktop() {
    if (m_parts != nullptr) {
        m_parts->runner.removeObserver(this);
    }
    m_host.setViews({});
}

bool WindowedDesktop::showRunningInstance(const ProgramFolder& folder) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(instanceSocketPath(folder.home())));
    if (!socket.waitForConnected(kAnswerWaitMs)) {
        return false;
    }
    // A headless instance needs to know where this desktop is to open its window on it.
    socket.write(QByteArray::fromStdString(instanceRequestText("show")));
    return socket.waitForBytesWritten(kAnswerWaitMs);
}

void WindowedDesktop::listen() {
    const QString name = QString::fromStdString(instanceSocketPath(m_parts->ctx.paths.home()));
    // A socket file a crashed instance left behind; the instance lock says none runs.
    QLocalServer::removeServer(name);
    if (!m_server.listen(name)) {
        m_parts->ctx.WriteLog("Cannot listen for a second start: " +
                              m_server.errorString().toStdString());
        return;
    }
    QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] {
        while (QLocalSocket* peer = m_server.nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                if (peer->readAll().startsWith("show")) {
                    // During the splash there is no main window yet: it shows when made.
                    if (m_main)
                        m_main->showAndRaise();
                    else
                        m_showWhenMade = true;
                }
                peer->disconnectFromServer();
            });
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
}

bool WindowedDesktop::mainShown() const {
    return m_main && m_main->isVisible() && !m_main->isMinimized();
}

void WindowedDesktop::start(DesktopParts& parts) {
    m_parts = &parts;
    AppContext& ctx = parts.ctx;
    m_language = LanguageFile(ctx.settings.languageFilePath);
    (void)m_qtLanguage.use(ctx.messages.GetMessage("strMsgLocale"));
    m_progress = std::make_unique<ui::mdlProgress>(
        ctx.flags, ctx.messages, [this]() -> const LanguageFile& { return m_language; },
        [this] { return mainShown(); }, [&ctx] { return ctx.clock.tickMs(); },
        [this](double percent, const std::string& tip) {
            if (m_main) {
                m_main->setTrayProgress(percent);
                m_main->setTrayTip(tip);
            }
        });

    ui::QtHost::Views views;
    views.windowVisible = [this] { return mainShown(); };
    views.logLine = [this](const std::string& line) {
        if (m_main)
            m_main->addLogLine(line);
    };
    views.statusText = [this](int panel, const std::string& text) {
        if (m_main)
            m_main->setStatusText(panel, text);
    };
    views.captionSuffix = [this](const std::string& suffix) {
        if (m_main)
            m_main->setCaptionSuffix(suffix);
    };
    views.trayTip = [this](const std::string& tip) {
        if (m_main)
            m_main->setTrayTip(tip);
    };
    views.notice = [this](const std::string& text, MsgIcon icon) {
        if (m_main)
            m_main->trayMessage(text, icon == MsgIcon::Critical);
    };
    views.showProgress = [this](const std::string& title) { m_progress->ShowProgress(title); };
    views.updateProgress = [this](const std::string& title, const std::string& item, double file,
                                  double total) {
        m_progress->UpdateProgress(title, item, file, total);
    };
    views.closeProgress = [this] { m_progress->CloseProgress(); };
    views.fileCancellable = [this](bool cancellable) {
        m_progress->setFileCancellable(cancellable);
    };
    views.showLog = [this] {
        if (m_main)
            m_main->showLog();
    };
    views.message = [this](std::string_view key) { return m_parts->ctx.msg(key); };
    m_host.setViews(std::move(views));
    parts.runner.addObserver(this);

    listen();
    QObject::connect(&m_stopPoll, &QTimer::timeout, &m_stopPoll, [this] {
        if (m_parts->stopRequested()) {
            m_stopPoll.stop();
            // A box open at the stop would hold the run, and the quit behind it, for nobody.
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QDialog*>(window);
                    dialog != nullptr && dialog->isVisible() && dialog->isModal()) {
                    dialog->reject();
                }
            }
            quit(false);
        }
    });
    m_stopPoll.start();

    m_splash = std::make_unique<ui::frmSplash>(m_language);
    QObject::connect(m_splash.get(), &ui::frmSplash::finished, m_splash.get(),
                     [this] { showMain(); });
    m_splash->start();
}

void WindowedDesktop::run(DesktopParts& parts) {
    start(parts);
    if (!m_finished) {
        QApplication::exec();
    }
    // The runner and the context end with the program, before this object.
    m_splash.reset();
    m_main.reset();
    m_progress.reset();
    m_host.setViews({});
    parts.runner.removeObserver(this);
    m_parts = nullptr;
}

void WindowedDesktop::showMain() {
    AppContext& ctx = m_parts->ctx;
    ui::MainSeams seams;
    seams.openSettings = [this] { openSettings(); };
    seams.openAbout = [this] { ui::ShowAbout(m_main.get(), m_parts->ctx, m_language); };
    seams.askPassword = [this](const std::string& expected) {
        return ui::AskPassword(m_main.get(), expected, m_language);
    };
    seams.openHelp = [this](const std::string& page) { openHelpPage(m_host, m_parts->ctx, page); };
    seams.openFile = [this](const std::string& path) {
        openLocal(m_host, m_parts->ctx.messages, path);
    };
    seams.openEditor = [this](const std::string& job, int page) { openEditor(job, page); };
    seams.openRestoreBrowser = [this](const std::string& job) {
        ui::OpenRestoreBrowser(m_main.get(), m_parts->ctx, m_parts->runner, m_language,
                               ui::desktopRestoreSeams(), job);
        if (m_main)
            m_main->UpdateForm();
    };
    seams.pauseChanged = [this] { m_progress->syncPause(); };
    seams.quit = [this](bool ask) { quit(ask); };
    m_main = std::make_unique<ui::frmMain>(
        ctx, m_parts->runner, [this]() -> const LanguageFile& { return m_language; },
        std::move(seams));
    m_main->applyStyle(ctx.settings.style);
    m_progress->setOwner(m_main.get());
    m_progress->setPauseListener([this] {
        if (m_main)
            m_main->syncPause();
    });
    m_main->setTicker([this] { m_parts->scheduler.tick(); });
    m_main->schedTimer().start();
    m_host.setAskWithoutWindow(false);
    if (!m_parts->showWindow && !m_showWhenMade &&
        ctx.settings.general("HideWindowOnStart", "0") == "1") {
        // Hidden in the tray; without a tray only minimised, or nothing would show it again.
        if (!m_main->trayAvailable())
            m_main->showMinimized();
    } else {
        m_main->show();
    }
}

void WindowedDesktop::openEditor(const std::string& job, int page) {
    AppContext& ctx = m_parts->ctx;
    const ui::EditorSeams seams = ui::desktopEditorSeams(
        ctx, m_language,
        [this](const std::string& page) { openHelpPage(m_host, m_parts->ctx, page); });
    std::string saved;
    const bool stored =
        job.empty()
            ? ui::NewJob(m_main.get(), ctx, m_parts->runner, m_language, seams, page, &saved)
            : ui::EditJob(
                  m_main.get(), ctx, m_parts->runner, m_language, seams, job, page,
                  [this](const std::string& expected) {
                      return ui::AskPassword(m_main.get(), expected, m_language);
                  },
                  &saved);
    if (m_main) {
        m_main->UpdateForm();
        if (stored)
            m_main->selectJob(saved);
    }
}

void WindowedDesktop::reloadLanguage() {
    m_language = LanguageFile(m_parts->ctx.settings.languageFilePath);
    (void)m_qtLanguage.use(m_parts->ctx.messages.GetMessage("strMsgLocale"));
    m_progress->setLocale(QLocale());
    if (m_main)
        m_main->applyLanguage();
    // The progress window captions itself anew when it is next activated.
}

void WindowedDesktop::openSettings() {
    if (m_parts->runner.busy())
        return;
    ui::ServiceCommands service;
    const bool available = m_parts->servicesAvailable;
    service.available = [available] { return available; };
    service.install = m_parts->installService;
    service.uninstall = m_parts->uninstallService;
    ui::frmSettings settings(m_parts->ctx, service, m_main.get());
    QObject::connect(&settings, &ui::frmSettings::languageChanged, &settings,
                     [this] { reloadLanguage(); });
    settings.exec();
}

void WindowedDesktop::quit(bool ask) {
    if (m_finished || m_quitWhenReady)
        return;
    if (ask && !m_parts->askQuit())
        return;
    m_host.setEnding();
    if (m_parts->runner.requestQuit() == JobRunner::Quit::Now) {
        finish();
    } else {
        // The run is being aborted; the end comes when it has returned.
        m_quitWhenReady = true;
    }
}

void WindowedDesktop::quitReady() {
    if (m_quitWhenReady) {
        m_quitWhenReady = false;
        // Out of the run's stack first: the loop that waited in it must unwind.
        QTimer::singleShot(0, &m_stopPoll, [this] { finish(); });
    }
}

void WindowedDesktop::finish() {
    if (m_finished)
        return;
    m_finished = true;
    m_stopPoll.stop();
    if (m_main) {
        m_main->saveLayout();
        m_main->schedTimer().stop();
        if (m_main->tray())
            m_main->tray()->hide();
    }
    m_parts->closeProgram();
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    QApplication::quit();
}

void WindowedDesktop::activityStarted(const Activity&) {
    m_progress->beginRun();
}

void WindowedDesktop::activityFinished(const Activity&) {
    m_progress->endRun();
}

void WindowedDesktop::backupFinished(const std::string& job, const RunSummary& summary) {
    // A failure nobody watched is told by the tray, not by a box that waits for nobody.
    if ((summary.status == kStatusFailed || summary.status == kStatusAborted) && m_main &&
        !m_main->isVisible()) {
        const std::string details = m_parts->ctx.control.failureDetails();
        std::string text = m_parts->ctx.messages.format("strMsgBackupFailed", {{"%d", job}});
        m_main->trayMessage(details.empty() ? text : text + "\n" + details, true);
    }
}

}  // namespace kestrel
