// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/open_on_desktop.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

#include "platform/process.h"

namespace kestrel::ui {

void openOnDesktop(const QUrl& url, std::function<void(bool opened)> done) {
    const auto tell = [done](bool opened) {
        QTimer::singleShot(0, qApp, [done, opened] { done(opened); });
    };
    const QString tool = QStandardPaths::findExecutable("xdg-open");
    if (tool.isEmpty()) {
        tell(false);
        return;
    }
    auto started = startProcess({tool.toStdString(), url.toString().toStdString()});
    if (!started) {
        tell(false);
        return;
    }
    if (started->fd() < 0) {
        tell(true);
        return;
    }
    // xdg-open may stay until the program it started ends: the watch goes with the application,
    // the program does not.
    auto process = std::make_shared<StartedProcess>(std::move(*started));
    auto* watch = new QSocketNotifier(process->fd(), QSocketNotifier::Read, qApp);
    QObject::connect(watch, &QSocketNotifier::activated, watch, [watch, process, done] {
        watch->setEnabled(false);
        watch->deleteLater();
        const auto code = process->exitCode();
        done(code && *code == 0);
    });
}

}  // namespace kestrel::ui
