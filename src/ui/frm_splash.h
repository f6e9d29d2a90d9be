// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class frmSplash;
}

namespace kestrel {
class LanguageFile;
}

namespace kestrel::ui {

// The frameless window shown while the program starts. Its one-shot timer closes it after
// kSplashMilliseconds and then announces finished(), on which the program loads and shows the
// main window.
class frmSplash : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSplashMilliseconds = 1000;

    // Captions the splash from the language file; it stays hidden until start().
    explicit frmSplash(const LanguageFile& language, QWidget* parent = nullptr);
    ~frmSplash() override;

    // Shows the splash, centred on the screen, and starts its timer.
    void start();
    // The timer, so that a test can check it and fire it without waiting.
    QTimer& timer() { return m_timer; }
    void retranslate(const LanguageFile& language);

signals:
    // The splash has closed itself: time for the main window.
    void finished();

private:
    void onTimeout();

    std::unique_ptr<Ui::frmSplash> m_ui;
    QTimer m_timer;
};

}  // namespace kestrel::ui
