// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_password.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "core/language_file.h"

namespace kestrel::ui {
namespace {

QLineEdit* textBox(frmPassword& prompt) {
    return prompt.findChild<QLineEdit*>("Text1");
}

// The prompt says yes only to the whole text, case and blanks included, confirmed by Enter or OK.
TEST(frmPassword, OnlyTheWholeRightTextConfirmedIsTrue) {
    using Close = std::function<void(frmPassword&)>;
    const auto key = [](Qt::Key k) -> Close {
        return [k](frmPassword& p) { QTest::keyClick(textBox(p), k); };
    };
    const auto button = [](const char* name) -> Close {
        return [name](frmPassword& p) {
            QTest::mouseClick(p.findChild<QPushButton*>(name), Qt::LeftButton);
        };
    };
    const Close titleBar = [](frmPassword& p) { EXPECT_TRUE(p.close()); };
    struct Case {
        std::string expected;
        QString typed;
        Close close;
        bool result;
    };
    const Case cases[] = {
        {"s3cret", "s3cret", key(Qt::Key_Return), true},
        {"", "", key(Qt::Key_Return), true},
        {"s3cret", "s3cret", button("cmdOk"), true},
        {"Secret", "secret", button("cmdOk"), false},
        {"secret", "secre", key(Qt::Key_Enter), false},
        {"secret", "secretsecret", key(Qt::Key_Enter), false},
        {"secret", "", key(Qt::Key_Enter), false},
        {"s3cret", "s3cret", key(Qt::Key_Escape), false},
        {"s3cret", "s3cret", button("cmdCancel"), false},
        {"s3cret", "s3cret", titleBar, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString() + " for " + c.expected);
        frmPassword prompt{LanguageFile()};
        EXPECT_EQ(textBox(prompt)->echoMode(), QLineEdit::Password);
        prompt.setExpected(c.expected);
        EXPECT_FALSE(prompt.takeResult()) << "nothing before it was shown";
        prompt.show();
        QTest::keyClicks(textBox(prompt), c.typed);
        c.close(prompt);
        EXPECT_FALSE(prompt.isVisible()) << "every way closes it, a wrong password too";
        EXPECT_EQ(prompt.takeResult(), c.result);
        EXPECT_FALSE(prompt.takeResult()) << "reading resets the flag";
    }
}

}  // namespace
}  // namespace kestrel::ui
