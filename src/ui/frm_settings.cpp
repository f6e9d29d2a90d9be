// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_settings.h"

#include <QPushButton>
#include <QStyle>
#include <algorithm>

#include "core/app_context.h"
#include "core/language_file.h"
#include "platform/autostart.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "ui/language.h"
#include "ui_frm_settings.h"

namespace kestrel::ui {

namespace {

// What "%s" names in the service messages, as the command line shows them.
constexpr const char* kServiceDisplayName = "Kestrel service";
constexpr std::string_view kLanguageExtension = ".lng";

const char* flagText(const QCheckBox& box) {
    return box.isChecked() ? "1" : "0";
}

}  // namespace

std::vector<std::string> availableLanguages(const ProgramFolder& folder) {
    std::vector<std::string> dirs = {folder.path("Languages")};
    for (const std::string& root : folder.assetRoots()) {
        dirs.push_back(fs::join(root, "Languages"));
    }
    std::vector<std::string> languages;
    for (const std::string& dir : dirs) {
        const auto names = fs::listDir(dir);
        if (!names) {
            continue;
        }
        for (const std::string& name : *names) {
            if (name.size() <= kLanguageExtension.size()) {
                continue;
            }
            const size_t stem = name.size() - kLanguageExtension.size();
            if (!text::iequals(std::string_view(name).substr(stem), kLanguageExtension) ||
                !fs::isRegularFile(fs::join(dir, name))) {
                continue;
            }
            const std::string shown =
                text::upper(name.substr(0, 1)) + text::lower(name.substr(1, stem - 1));
            if (std::find(languages.begin(), languages.end(), shown) == languages.end()) {
                languages.push_back(shown);
            }
        }
    }
    return languages;
}

frmSettings::frmSettings(AppContext& ctx, ServiceCommands service, QWidget* parent)
    : QDialog(parent),
      m_ctx(ctx),
      m_service(std::move(service)),
      m_ui(std::make_unique<Ui::frmSettings>()) {
    m_ui->setupUi(this);
    // The title bar's "?" explains the controls (What's This).
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    m_ui->uxGraphicButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    m_ui->uxGraphicButton2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    connect(m_ui->uxGraphicButton1, &QPushButton::clicked, this, &frmSettings::onOk);
    connect(m_ui->uxGraphicButton2, &QPushButton::clicked, this, &QDialog::reject);
    load();
    retranslate(LanguageFile(m_ctx.settings.languageFilePath));
}

frmSettings::~frmSettings() = default;

void frmSettings::retranslate(const LanguageFile& language) {
    m_ui->retranslateUi(this);
    ApplyLanguage(*this, language);
    m_ui->Check1->setToolTip(
        QString::fromStdString(m_ctx.messages.GetMessage("strMsgBlockScheduleTip")));
}

bool frmSettings::serviceAvailable() const {
    return m_service.available && m_service.available();
}

void frmSettings::load() {
    const Settings& settings = m_ctx.settings;
    m_ui->Check1->setChecked(settings.blockSchedule);
    m_ui->chkHide->setChecked(text::leadingInt(settings.general("HideWindowOnStart", "0")) == 1);
    m_ui->chkCatchUp->setChecked(settings.general("CatchUpMissedRuns", "0") == "1");
    m_ui->chkAutostart->setChecked(autostartEnabled());
    // Without service support the box still shows the flag, so that OK stores it unchanged.
    m_ui->chkService->setChecked(settings.RunAsService == 1);
    m_ui->chkService->setEnabled(serviceAvailable());

    m_ui->Combo1->clear();
    for (const std::string& language : availableLanguages(m_ctx.paths)) {
        // Each language in its own words, so that a user who cannot read the current one
        // still finds theirs; the setting keeps the file's name.
        std::string own = LanguageFile(findLanguageFile(m_ctx.paths, language))
                              .profileString("msgStrings", "strMsgLanguageName");
        m_ui->Combo1->addItem(QString::fromStdString(own.empty() ? language : own),
                              QString::fromStdString(language));
    }
    // Nothing chosen yet: the language in use, which the locale chose.
    std::string current = settings.general("Language");
    if (current.empty()) {
        const std::string file = fs::fileNameOf(settings.languageFilePath);
        current =
            file.empty() ? "english" : file.substr(0, file.size() - kLanguageExtension.size());
    }
    int selected = -1;
    for (int i = 0; i < m_ui->Combo1->count(); ++i) {
        if (text::iequals(m_ui->Combo1->itemData(i).toString().toStdString(), current)) {
            selected = i;
            break;
        }
    }
    m_ui->Combo1->setCurrentIndex(selected);
}

void frmSettings::applyServiceChange() {
    const bool install = m_ui->chkService->isChecked();
    const bool done = install ? (m_service.install && m_service.install())
                              : (m_service.uninstall && m_service.uninstall());
    const char* key = install ? (done ? "strMsgSuccInstall" : "strMsgFailInstall")
                              : (done ? "strMsgSuccUninst" : "strMsgFailUninst");
    tell(m_ctx.host, m_ctx.messages.format(key, {{"%s", kServiceDisplayName}}),
         done ? MsgIcon::Information : MsgIcon::Critical);
    if (!done) {
        // What is stored and kept below must be what the system now has.
        m_ui->chkService->setChecked(!install);
    }
}

void frmSettings::applyAutostart() {
    const bool on = m_ui->chkAutostart->isChecked();
    // Written again when on, so that the entry starts this program where it now lies.
    if (!on && !fs::exists(autostartEntryPath())) {
        return;
    }
    std::string error;
    if (!setAutostart(on, m_ctx.msg("strMsgAutostartComment"), &error)) {
        tell(m_ctx.host, m_ctx.messages.format("strMsgAutostartFailed", {{"%s", error}}),
             MsgIcon::Critical);
    }
}

void frmSettings::onOk() {
    Settings& settings = m_ctx.settings;
    if (serviceAvailable() && m_ui->chkService->isChecked() != (settings.RunAsService == 1)) {
        applyServiceChange();
    }
    // A value that cannot be written keeps its old one; nothing here could do better.
    (void)settings.saveGeneral("blockSchedule", flagText(*m_ui->Check1));
    (void)settings.saveGeneral("HideWindowOnStart", flagText(*m_ui->chkHide));
    (void)settings.saveGeneral("CatchUpMissedRuns", flagText(*m_ui->chkCatchUp));
    applyAutostart();
    // Read back, so that the scheduler follows what is stored even when the write failed.
    settings.blockSchedule = text::leadingInt(settings.general("blockSchedule", "1")) == 1;
    (void)settings.saveGeneral("RunAsService", flagText(*m_ui->chkService));
    const std::string language = m_ui->Combo1->currentData().toString().toStdString();
    (void)settings.saveGeneral("Language", language);
    settings.languageFilePath = findLanguageFile(m_ctx.paths, language);
    m_ctx.messages.FillMessages(settings.languageFilePath);
    settings.RunAsService = m_ui->chkService->isChecked() ? 1 : 0;
    accept();
    emit languageChanged();
}

}  // namespace kestrel::ui
