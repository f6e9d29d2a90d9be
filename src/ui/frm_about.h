// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "ui/system_facts.h"

namespace Ui {
class frmAbout;
}

namespace kestrel {
struct AppContext;
class LanguageFile;
}  // namespace kestrel

namespace kestrel::ui {

// The about window: the program's title and version, and the system details for a bug report.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    // Called each time the system details are asked for.
    using FactsSource = std::function<SystemFacts()>;

    explicit frmAbout(const LanguageFile& language, FactsSource facts, QWidget* parent = nullptr);
    ~frmAbout() override;

    void retranslate(const LanguageFile& language);
    // What cmdSysInfo shows: the details, or "System Information Is Unavailable At This Time"
    // when none could be found out.
    QString systemInfoText() const;

private:
    void showSystemInfo();

    std::unique_ptr<Ui::frmAbout> m_ui;
    FactsSource m_facts;
};

// Shows the about window modally, with the details of this program and system.
void ShowAbout(QWidget* parent, const AppContext& ctx, const LanguageFile& language);

}  // namespace kestrel::ui
