// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_about.h"

#include <QMessageBox>
#include <QPushButton>
#include <QStyle>

#include "core/app_context.h"
#include "ui/language.h"
#include "ui/version.h"
#include "ui_frm_about.h"

namespace kestrel::ui {

namespace {

constexpr const char* kUnavailable = "System Information Is Unavailable At This Time";

}  // namespace

frmAbout::frmAbout(const LanguageFile& language, FactsSource facts, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::frmAbout>()), m_facts(std::move(facts)) {
    m_ui->setupUi(this);
    m_ui->cmdOk->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    connect(m_ui->cmdOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::showSystemInfo);
    retranslate(language);
}

frmAbout::~frmAbout() = default;

void frmAbout::retranslate(const LanguageFile& language) {
    m_ui->retranslateUi(this);
    ApplyLanguage(*this, language);
    setWindowTitle(windowTitle() + " " + kProgramTitle);
    m_ui->Label1->setText(m_ui->Label1->text() + " " + QString::number(kVersionRevision));
    m_ui->Label4->setText(m_ui->Label4->text() + " " + QString::number(kVersionMajor) + "." +
                          QString::number(kVersionMinor));
}

QString frmAbout::systemInfoText() const {
    const std::string text = m_facts ? systemFactsText(m_facts()) : std::string();
    return text.empty() ? QString(kUnavailable) : QString::fromStdString(text);
}

void frmAbout::showSystemInfo() {
    const QString text = systemInfoText();
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The button's caption without its access key and dots names the box in every language.
    box->setWindowTitle(m_ui->cmdSysInfo->text().remove('&').remove("...").trimmed());
    box->setIcon(text == kUnavailable ? QMessageBox::Warning : QMessageBox::Information);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    // Selectable, so that the details can be pasted into a bug report.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
}

void ShowAbout(QWidget* parent, const AppContext& ctx, const LanguageFile& language) {
    const std::string home = ctx.paths.home();
    const std::string logPath = ctx.log.filePath();
    frmAbout about(
        language,
        [home, logPath] { return gatherSystemFacts(home, logPath, defaultOsReleasePaths()); },
        parent);
    about.exec();
}

}  // namespace kestrel::ui
