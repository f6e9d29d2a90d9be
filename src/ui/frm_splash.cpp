// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_splash.h"

#include <QScreen>

#include "ui/language.h"
#include "ui/version.h"
#include "ui_frm_splash.h"

namespace kestrel::ui {

frmSplash::frmSplash(const LanguageFile& language, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      m_ui(std::make_unique<Ui::frmSplash>()) {
    m_ui->setupUi(this);
    retranslate(language);
    m_timer.setSingleShot(true);
    m_timer.setInterval(kSplashMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &frmSplash::onTimeout);
}

frmSplash::~frmSplash() = default;

void frmSplash::start() {
    adjustSize();
    if (const QScreen* screen = this->screen()) {
        QRect frame = rect();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    m_timer.start();
}

void frmSplash::retranslate(const LanguageFile& language) {
    m_ui->retranslateUi(this);
    ApplyLanguage(*this, language);
    m_ui->Label2->setText(m_ui->Label2->text() + " " + QString::number(kVersionRevision));
}

void frmSplash::onTimeout() {
    // Once only, also when the timeout came from elsewhere than the running timer.
    m_timer.stop();
    close();
    emit finished();
}

}  // namespace kestrel::ui
