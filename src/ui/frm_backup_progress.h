// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <memory>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class frmBackupProgress;
}

namespace kestrel::ui {

class PictureBox;

// The progress window: a file bar and a total bar, the current item, the time taken, the rate
// and the time left, and the commands abort, skip this file and pause. It only shows what it is
// given and reports what the user does; mdlProgress (ui/progress.h) drives it.
class frmBackupProgress : public QDialog {
    Q_OBJECT

public:
    // The window's controls, by their names in the layout. They belong to the window.
    struct Controls {
        QLabel* lblFile;
        QProgressBar* bp2;
        QLabel* Label1;
        QLabel* lblETRem;
        QProgressBar* pb;
        QLabel* lbltotalTime;
        QLabel* lblProgress;
        QGroupBox* Frame1;
        PictureBox* Picture1;
        PictureBox* Picture2;
        QPushButton* cmdCancel;
        QPushButton* uxGraphicButton1;
        QPushButton* uxGraphicButton2;
        QLabel* lblElapsed;
        QLabel* lblRate;
        QLabel* lblRemaining;
    };

    explicit frmBackupProgress(QWidget* parent = nullptr);
    ~frmBackupProgress() override;

    const Controls& controls() const { return m_controls; }

signals:
    // The window became the active one (the language texts are applied again then).
    void activated();
    // The user closed the window (title bar or Escape). The window has not gone yet: whoever
    // owns it unloads it.
    void closedByUser();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    // Escape would only hide a dialog; here it closes the window as the title bar does.
    void reject() override;

private:
    std::unique_ptr<::Ui::frmBackupProgress> m_ui;
    Controls m_controls;
};

}  // namespace kestrel::ui
