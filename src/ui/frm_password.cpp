// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_password.h"

#include <QPushButton>
#include <QStyle>
#include <utility>

#include "ui/language.h"
#include "ui_frm_password.h"

namespace kestrel::ui {

frmPassword::frmPassword(const LanguageFile& language, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::frmPassword>()) {
    m_ui->setupUi(this);
    m_ui->cmdOk->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    m_ui->cmdCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    connect(m_ui->cmdOk, &QPushButton::clicked, this, &frmPassword::onOk);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    retranslate(language);
}

frmPassword::~frmPassword() = default;

void frmPassword::setExpected(std::string expected) {
    m_expected = std::move(expected);
}

bool frmPassword::takeResult() {
    return std::exchange(m_result, false);
}

void frmPassword::retranslate(const LanguageFile& language) {
    m_ui->retranslateUi(this);
    ApplyLanguage(*this, language);
}

void frmPassword::showEvent(QShowEvent* event) {
    // A prompt shown again must not offer the last answer, nor keep what was typed.
    m_result = false;
    m_ui->Text1->clear();
    m_ui->Text1->setFocus();
    QDialog::showEvent(event);
}

void frmPassword::onOk() {
    m_result = m_ui->Text1->text().toStdString() == m_expected;
    accept();
}

bool AskPassword(QWidget* parent, const std::string& expected, const LanguageFile& language) {
    frmPassword prompt(language, parent);
    prompt.setExpected(expected);
    prompt.exec();
    return prompt.takeResult();
}

}  // namespace kestrel::ui
