// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_backup_progress.h"

#include <QCloseEvent>

#include "ui/icons.h"
#include "ui/picture_box.h"
#include "ui_frm_backup_progress.h"

namespace kestrel::ui {

frmBackupProgress::frmBackupProgress(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<::Ui::frmBackupProgress>()) {
    m_ui->setupUi(this);
    // The title bar's "?" explains the controls (What's This).
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    m_controls = Controls{
        m_ui->lblFile,          m_ui->bp2,        m_ui->Label1,
        m_ui->lblETRem,         m_ui->pb,         m_ui->lbltotalTime,
        m_ui->lblProgress,      m_ui->Frame1,     m_ui->Picture1,
        m_ui->Picture2,         m_ui->cmdCancel,  m_ui->uxGraphicButton1,
        m_ui->uxGraphicButton2, m_ui->lblElapsed, m_ui->lblRate,
        m_ui->lblRemaining,
    };
    m_ui->Picture1->setIcon(iconFor("keyPause"));
    m_ui->Picture2->setIcon(iconFor("keyContinue"));
    m_ui->cmdCancel->setIcon(iconFor("keyAbort"));
    m_ui->uxGraphicButton1->setIcon(iconFor("keyCancelFile"));
    m_ui->uxGraphicButton2->setIcon(m_ui->Picture1->icon());
    setWindowIcon(ownIcon("kestrel"));
    // The item's name changes many times a second; a width that followed it would make the
    // window jitter. A shortened name (54 characters) fits.
    m_ui->lblFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_ui->lblFile->setMinimumWidth(m_ui->lblFile->fontMetrics().averageCharWidth() * 60);
}

frmBackupProgress::~frmBackupProgress() = default;

bool frmBackupProgress::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate) {
        emit activated();
    }
    return handled;
}

void frmBackupProgress::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closedByUser();
}

void frmBackupProgress::reject() {
    close();
}

}  // namespace kestrel::ui
