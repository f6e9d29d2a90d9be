// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qt_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace kestrel::ui {

namespace {

// Events are served at least this often during a run, so that a click is answered at once,
// but not on every block: an idle turn of the loop costs more than a small file's copy.
constexpr qint64 kYieldEveryMs = 10;
constexpr qint64 kProgressEveryMs = 50;

QMessageBox::Icon boxIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QtHost::QtHost() {
    m_sinceYield.start();
    m_sinceProgress.start();
}

void QtHost::yield() {
    if (m_pending && m_sinceProgress.elapsed() >= kProgressEveryMs) {
        flushProgress();
    }
    if (m_sinceYield.elapsed() < kYieldEveryMs) {
        return;
    }
    m_sinceYield.restart();
    ++m_turns;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtHost::waitForEvents(std::chrono::milliseconds atMost) {
    // A timer bounds the wait: processEvents blocks until some event came.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(static_cast<int>(atMost.count()));
    ++m_turns;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_sinceYield.restart();
}

bool QtHost::windowVisible() const {
    return m_views.windowVisible && m_views.windowVisible();
}

bool QtHost::canAsk() const {
    return !m_ending && (windowVisible() || m_askWithoutWindow);
}

void QtHost::logLine(const std::string& stampedLine) {
    if (m_views.logLine)
        m_views.logLine(stampedLine);
}

void QtHost::setStatusText(int panel, const std::string& text) {
    if (m_views.statusText)
        m_views.statusText(panel, text);
}

void QtHost::setCaptionSuffix(const std::string& suffix) {
    if (m_views.captionSuffix)
        m_views.captionSuffix(suffix);
}

void QtHost::setTrayTip(const std::string& tip) {
    if (m_views.trayTip)
        m_views.trayTip(tip);
}

void QtHost::showProgress(const std::string& title) {
    m_pending.reset();
    if (m_views.showProgress)
        m_views.showProgress(title);
}

void QtHost::updateProgress(const std::string& title, const std::string& item, double filePercent,
                            double totalPercent) {
    // The window shows a new step, the end and then the latest values, at most 20 times a
    // second: a run of small files reports thousands of times a second.
    const bool step = !m_pending && title != m_shownTitle;
    m_pending = Progress{title, item, filePercent, totalPercent};
    if (step || totalPercent >= 100 || m_sinceProgress.elapsed() >= kProgressEveryMs) {
        flushProgress();
    }
    yield();
}

void QtHost::flushProgress() {
    if (!m_pending)
        return;
    const Progress p = *m_pending;
    m_pending.reset();
    m_shownTitle = p.title;
    m_sinceProgress.restart();
    if (m_views.updateProgress)
        m_views.updateProgress(p.title, p.item, p.filePercent, p.totalPercent);
}

void QtHost::closeProgress() {
    m_pending.reset();
    if (m_views.closeProgress)
        m_views.closeProgress();
}

void QtHost::setFileCancellable(bool cancellable) {
    if (m_views.fileCancellable)
        m_views.fileCancellable(cancellable);
}

MsgAnswer QtHost::messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                             MsgAnswer safeDefault) {
    QMessageBox box(boxIcon(icon), QStringLiteral("Kestrel"), QString::fromStdString(text));
    switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MsgButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        case QMessageBox::Cancel:
            return MsgAnswer::Cancel;
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        default:
            return safeDefault;
    }
}

int QtHost::choiceBox(const std::string& text, const std::vector<std::string>& choices,
                      int safeDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Kestrel"), QString::fromStdString(text));
    std::vector<QPushButton*> buttons;
    for (const std::string& choice : choices)
        buttons.push_back(box.addButton(QString::fromStdString(choice), QMessageBox::AcceptRole));
    if (safeDefault >= 0 && static_cast<size_t>(safeDefault) < buttons.size()) {
        box.setEscapeButton(buttons[static_cast<size_t>(safeDefault)]);
    }
    box.exec();
    const auto taken = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return taken == buttons.end() ? safeDefault : static_cast<int>(taken - buttons.begin());
}

void QtHost::failureBox(const std::string& text, const std::string& details) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Kestrel"), QString::fromStdString(text));
    box.setObjectName("failureBox");
    box.setInformativeText(QString::fromStdString(details));
    box.setStandardButtons(QMessageBox::Ok);
    QPushButton* log = nullptr;
    if (m_views.showLog && m_views.message) {
        log = box.addButton(QString::fromStdString(m_views.message("strMsgShowLog")),
                            QMessageBox::ActionRole);
        log->setObjectName("cmdShowLog");
    }
    box.exec();
    if (log != nullptr && box.clickedButton() == log)
        m_views.showLog();
}

void QtHost::notice(const std::string& text, MsgIcon icon) {
    if (m_views.notice)
        m_views.notice(text, icon);
}

}  // namespace kestrel::ui
