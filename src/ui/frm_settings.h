// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class frmSettings;
}

namespace kestrel {
struct AppContext;
class LanguageFile;
class ProgramFolder;
}  // namespace kestrel

namespace kestrel::ui {

// The platform's service, as the settings window installs and removes it. Each function returns
// whether it succeeded; an empty available (or one that returns false) means the platform has
// no service support, and the run-as-service box is then disabled.
struct ServiceCommands {
    std::function<bool()> available;
    std::function<bool()> install;
    std::function<bool()> uninstall;
};

// The languages of the *.lng files in the Languages folder of the program folder, then of each
// asset root, in directory order: the file name without ".lng", first letter upper case, the
// rest lower case ("english.lng" -> "English"). A name is listed once, where it is first found.
std::vector<std::string> availableLanguages(const ProgramFolder& folder);

// The settings window: language, service, start hidden, catching up missed runs, the start with
// the desktop and the schedule block. OK stores the settings, updates the in-memory copies in the
// context and rebuilds its message table; Cancel changes nothing.
class frmSettings : public QDialog {
    Q_OBJECT

public:
    // Shows the stored settings, captioned in the context's current language. ctx must outlive
    // the window.
    frmSettings(AppContext& ctx, ServiceCommands service, QWidget* parent = nullptr);
    ~frmSettings() override;

    void retranslate(const LanguageFile& language);

signals:
    // After OK, which has rebuilt the message table from the chosen language: every open window
    // is to be captioned anew from ctx.settings.languageFilePath.
    void languageChanged();

private:
    void load();
    void onOk();
    bool serviceAvailable() const;
    void applyServiceChange();
    // Adds or removes the entry that starts the program with the desktop.
    void applyAutostart();

    AppContext& m_ctx;
    ServiceCommands m_service;
    std::unique_ptr<Ui::frmSettings> m_ui;
};

}  // namespace kestrel::ui
