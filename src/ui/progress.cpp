// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progress.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <iterator>
#include <utility>

#include "core/engine_flags.h"
#include "core/language_file.h"
#include "core/messages.h"
#include "ui/language.h"
#include "ui/picture_box.h"
#include "ui/version.h"

namespace kestrel::ui {

namespace {

constexpr qsizetype kItemLimit = 50;
constexpr qsizetype kItemHead = 25;
constexpr qsizetype kItemTail = 26;
// Raising the window on every block would flood the window system.
constexpr std::uint64_t kRaiseIntervalMs = 250;

void setText(QLabel& label, const QString& text) {
    if (label.text() != text) {
        label.setText(text);
    }
}

void setValue(QProgressBar& bar, int value) {
    if (bar.value() != value) {
        bar.setValue(value);
    }
}

bool inRange(const QProgressBar& bar, double value) {
    return value >= bar.minimum() && value <= bar.maximum();
}

QString duration(std::uint64_t ms) {
    const std::uint64_t seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QString shortenedItem(const QString& item) {
    // Counted in code points, so that a character outside the BMP is never cut in half.
    const QList<uint> points = item.toUcs4();
    if (points.size() <= kItemLimit) {
        return item;
    }
    const auto part = [&points](qsizetype from, qsizetype count) {
        return QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData() + from),
                                 count);
    };
    return part(0, kItemHead) + QStringLiteral("...") + part(points.size() - kItemTail, kItemTail);
}

mdlProgress::mdlProgress(EngineFlags& flags, const Messages& messages, LanguageSource language,
                         std::function<bool()> mainWindowVisible, TickClock tickMs, TraySink tray)
    : m_flags(flags),
      m_messages(messages),
      m_language(std::move(language)),
      m_mainWindowVisible(std::move(mainWindowVisible)),
      m_tick(std::move(tickMs)),
      m_tray(std::move(tray)) {
    setLocale(QLocale());  // the language the user chose
}

mdlProgress::~mdlProgress() {
    delete m_window.data();
    for (const auto& window : m_unloaded) {
        delete window.data();
    }
}

void mdlProgress::setAsker(Asker asker) {
    m_asker = std::move(asker);
}

void mdlProgress::setLocale(const QLocale& locale) {
    m_locale = locale;
    m_locale.setNumberOptions(QLocale::OmitGroupSeparator);
}

frmBackupProgress& mdlProgress::load() {
    if (m_window) {
        return *m_window;
    }
    auto* window = new frmBackupProgress(m_owner);
    // The program lives on in the tray; closing this window must never end it.
    window->setAttribute(Qt::WA_QuitOnClose, false);
    m_window = window;
    m_shownItem.reset();
    m_pauseShown = false;
    const auto& c = window->controls();
    // Each handler checks that its window is still the loaded one: a click queued before an
    // unload must not act on the next operation.
    const auto forThis = [this, window](auto handler) {
        return [this, window, handler] {
            if (m_window == window) {
                (this->*handler)();
            }
        };
    };
    QObject::connect(c.cmdCancel, &QPushButton::clicked, window,
                     forThis(&mdlProgress::abortClicked));
    QObject::connect(c.uxGraphicButton1, &QPushButton::clicked, window,
                     forThis(&mdlProgress::cancelFileClicked));
    QObject::connect(c.uxGraphicButton2, &QPushButton::clicked, window,
                     forThis(&mdlProgress::pauseClicked));
    QObject::connect(window, &frmBackupProgress::activated, window,
                     forThis(&mdlProgress::activated));
    QObject::connect(window, &frmBackupProgress::closedByUser, window,
                     forThis(&mdlProgress::unload));
    c.uxGraphicButton1->setEnabled(m_fileCancellable);
    applyLanguage(false);
    if (!m_timing) {
        restartTiming(m_tick());
    }
    return *window;
}

void mdlProgress::unload() {
    if (!m_window) {
        return;
    }
    frmBackupProgress* window = m_window.data();
    m_window = nullptr;
    window->hide();
    window->deleteLater();
    std::erase_if(m_unloaded, [](const auto& pending) { return pending.isNull(); });
    m_unloaded.emplace_back(window);
}

void mdlProgress::applyLanguage(bool keepValues) {
    frmBackupProgress& window = *m_window;
    const auto& c = window.controls();
    // The language file holds the design texts of the value labels and the title too; an
    // activation in the middle of a run must not put those back over what the run shows.
    QLabel* const values[] = {c.lblFile,    c.lblETRem, c.lblProgress,
                              c.lblElapsed, c.lblRate,  c.lblRemaining};
    QString kept[std::size(values)];
    const QString title = window.windowTitle();
    if (keepValues) {
        for (std::size_t i = 0; i < std::size(values); ++i) {
            kept[i] = values[i]->text();
        }
    }
    ApplyLanguage(window, m_language());
    if (keepValues) {
        for (std::size_t i = 0; i < std::size(values); ++i) {
            setText(*values[i], kept[i]);
        }
        window.setWindowTitle(title);
    }
    // The file's caption for the pause button is the unpaused one.
    const bool paused = m_flags.bPauseBackup;
    if (paused) {
        showPause(true);
    } else {
        c.uxGraphicButton2->setIcon(c.Picture1->icon());
        m_pauseShown = false;
    }
}

void mdlProgress::ShowProgress(const std::string& title) {
    // A later phase of a run goes on in its window, bars and time as they stand.
    const bool nextPhase = m_inRun && m_timing;
    frmBackupProgress& window = load();
    const auto& c = window.controls();
    window.setWindowTitle(qs(title));
    const std::uint64_t now = m_tick();
    if (!nextPhase) {
        c.pb->setValue(0);
        c.bp2->setValue(0);
        c.pb->setRange(0, 100);
        c.bp2->setRange(0, 100);
        restartTiming(now);
    }
    showTimes(now);
    m_trayTip.reset();
    if (m_mainWindowVisible()) {
        window.show();
    }
}

void mdlProgress::UpdateProgress(const std::string& title, const std::string& item,
                                 double filePercent, double totalPercent) {
    frmBackupProgress& window = load();
    const auto& c = window.controls();
    const std::uint64_t now = m_tick();
    syncPause();
    notePause(now);
    const QString caption = qs(title);

    if (inRange(*c.pb, totalPercent)) {
        setValue(*c.pb, static_cast<int>(totalPercent));
        const QString text = percentText(totalPercent);
        setText(*c.lblProgress, text);
        m_total = totalPercent;
        reportToTray(totalPercent, text + QLatin1Char('-') + caption, now);
    }
    if (inRange(*c.bp2, filePercent)) {
        setValue(*c.bp2, static_cast<int>(filePercent));
        setText(*c.lblETRem, percentText(filePercent));
    }

    const QString itemText = qs(item);
    if (!itemText.isEmpty() && itemText != m_lastCountedItem) {
        ++m_items;
        m_lastCountedItem = itemText;
    }
    if (m_shownItem != itemText) {
        m_shownItem = itemText;
        setText(*c.lblFile, shortenedItem(itemText));
    }
    if (window.windowTitle() != caption) {
        window.setWindowTitle(caption);
    }
    showTimes(now);
    raiseWindow(now);
}

void mdlProgress::CloseProgress() {
    if (m_inRun) {
        return;
    }
    m_timing = false;
    unload();
}

void mdlProgress::beginRun() {
    m_inRun = true;
}

void mdlProgress::endRun() {
    m_inRun = false;
    CloseProgress();
}

void mdlProgress::syncPause() {
    if (m_window && m_pauseShown != m_flags.bPauseBackup) {
        showPause(m_flags.bPauseBackup);
    }
}

void mdlProgress::setFileCancellable(bool cancellable) {
    m_fileCancellable = cancellable;
    if (m_window) {
        m_window->controls().uxGraphicButton1->setEnabled(cancellable);
    }
}

void mdlProgress::abortClicked() {
    if (!m_mainWindowVisible()) {
        m_flags.bAbortBackup = true;
        return;
    }
    const std::string& question = m_messages.GetMessage("strMsgRealyCancel");
    const bool yes = m_asker ? m_asker(question)
                             : QMessageBox::question(m_window, kProgramTitle, qs(question),
                                                     QMessageBox::Yes | QMessageBox::No,
                                                     QMessageBox::No) == QMessageBox::Yes;
    if (!yes) {
        return;
    }
    m_flags.bAbortBackup = true;
    // bBackupRunning stays set: the run clears it when it has really ended. Clearing it here
    // would let a second run start while this one still unwinds.
    m_timing = false;
    unload();
}

void mdlProgress::cancelFileClicked() {
    m_flags.bCancelFile = true;
}

void mdlProgress::activated() {
    applyLanguage(true);
}

void mdlProgress::pauseClicked() {
    m_flags.bPauseBackup = !m_flags.bPauseBackup;
    showPause(m_flags.bPauseBackup);
    notePause(m_tick());
    if (m_pauseListener)
        m_pauseListener();
}

void mdlProgress::showPause(bool paused) {
    const auto& c = m_window->controls();
    c.uxGraphicButton2->setText(
        qs(m_messages.GetMessage(paused ? "strMsgContinue" : "strMsgPause")));
    c.uxGraphicButton2->setIcon(paused ? c.Picture2->icon() : c.Picture1->icon());
    m_pauseShown = paused;
}

void mdlProgress::notePause(std::uint64_t now) {
    const bool paused = m_flags.bPauseBackup;
    if (paused && !m_pausedSince) {
        m_pausedSince = now;
        // The tray tip says "Paused" meanwhile; the next total must replace it.
        m_trayTip.reset();
    } else if (!paused && m_pausedSince) {
        m_pausedMs += now > *m_pausedSince ? now - *m_pausedSince : 0;
        m_pausedSince.reset();
    }
}

void mdlProgress::restartTiming(std::uint64_t now) {
    m_timing = true;
    m_start = now;
    m_pausedMs = 0;
    m_pausedSince.reset();
    if (m_flags.bPauseBackup) {
        m_pausedSince = now;
    }
    m_items = 0;
    m_lastCountedItem.clear();
    m_total = 0;
}

void mdlProgress::showTimes(std::uint64_t now) {
    const auto& c = m_window->controls();
    const std::uint64_t elapsed = now > m_start ? now - m_start : 0;
    std::uint64_t paused = m_pausedMs;
    if (m_pausedSince && now > *m_pausedSince) {
        paused += now - *m_pausedSince;
    }
    // Time spent paused would make the run look slower than it is.
    const std::uint64_t working = elapsed > paused ? elapsed - paused : 0;
    setText(*c.lblElapsed, duration(elapsed));
    setText(*c.lblRate, working >= kRateAfterMs
                            ? m_locale.toString(m_items * 1000.0 / working, 'f', 1)
                            : QString());
    QString remaining;
    if (working >= kEstimateAfterMs && m_total > 0) {
        remaining = duration(static_cast<std::uint64_t>(working * (100.0 - m_total) / m_total));
    }
    setText(*c.lblRemaining, remaining);
}

void mdlProgress::reportToTray(double totalPercent, const QString& tip, std::uint64_t now) {
    if (m_trayTip == tip) {
        return;
    }
    const bool due = !m_trayTip || totalPercent >= 100 || now < m_trayTick ||
                     now - m_trayTick >= kTrayIntervalMs;
    if (!due) {
        return;
    }
    m_trayTip = tip;
    m_trayTick = now;
    if (m_tray) {
        m_tray(totalPercent, tip.toStdString());
    }
}

void mdlProgress::raiseWindow(std::uint64_t now) {
    // Only over the program's own windows: a run must not push its window over another
    // program the user has turned to.
    if (!m_mainWindowVisible() || !m_window->isVisible() ||
        QGuiApplication::applicationState() != Qt::ApplicationActive) {
        return;
    }
    if (m_raiseTick && now >= *m_raiseTick && now - *m_raiseTick < kRaiseIntervalMs) {
        return;
    }
    m_raiseTick = now;
    m_window->raise();
}

QString mdlProgress::percentText(double percent) const {
    if (percent == 0) {
        percent = 0;  // -0 would show a minus sign
    }
    return m_locale.toString(percent, 'f', 2) + QLatin1Char('%');
}

}  // namespace kestrel::ui
