// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class frmPassword;
}

namespace kestrel {
class LanguageFile;
}

namespace kestrel::ui {

// The password prompt that guards editing and deleting a protected job. Enter in the text box
// chooses OK, Escape chooses Cancel.
class frmPassword : public QDialog {
    Q_OBJECT

public:
    // Captions the prompt from the language file.
    explicit frmPassword(const LanguageFile& language, QWidget* parent = nullptr);
    ~frmPassword() override;

    // The password the typed text must equal: the whole text, letter case included.
    void setExpected(std::string expected);
    // Whether the prompt was left through OK with the expected password. Reading resets it to
    // false, and so does showing the prompt, so that every other way out reads as false.
    bool takeResult();
    // Captions the prompt anew, after the language was changed.
    void retranslate(const LanguageFile& language);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onOk();

    std::unique_ptr<Ui::frmPassword> m_ui;
    std::string m_expected;
    bool m_result = false;
};

// Shows the prompt modally. True only when the user typed the expected password and chose OK.
bool AskPassword(QWidget* parent, const std::string& expected, const LanguageFile& language);

}  // namespace kestrel::ui
