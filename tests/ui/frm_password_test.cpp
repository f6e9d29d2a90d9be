#include "ui/frm_password.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "core/language_file.h"
#include "support/temp_dir.h"

namespace kestrel::ui {
namespace {

QLineEdit* textBox(frmPassword& prompt) {
    return prompt.findChild<QLineEdit*>("Text1");
}

// The prompt says yes only to the whole text, case and blanks included, confirmed by Enter or OK.
TEST(frmPassword, OnlyTheWholeRightTextConfirmedIsTrue) {
    enum class Close { Return, Enter, Ok, Escape, Cancel, TitleBar };
    struct Case {
        std::string expected;
        QString typed;
        Close close;
        bool result;
    };
    const Case cases[] = {
        {"s3cret", "s3cret", Close::Return, true},  {"", "", Close::Return, true},
        {"s3cret", "s3cret", Close::Ok, true},      {"Secret", "secret", Close::Ok, false},
        {"secret", "secre", Close::Enter, false},   {"secret", "secret ", Close::Enter, false},
        {"secret", " secret", Close::Enter, false}, {"secret", "secretsecret", Close::Enter, false},
        {"secret", "", Close::Enter, false},        {"s3cret", "s3cret", Close::Escape, false},
        {"s3cret", "s3cret", Close::Cancel, false}, {"s3cret", "s3cret", Close::TitleBar, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString() + " for " + c.expected);
        frmPassword prompt{LanguageFile()};
        EXPECT_EQ(textBox(prompt)->echoMode(), QLineEdit::Password);
        prompt.setExpected(c.expected);
        EXPECT_FALSE(prompt.takeResult()) << "nothing before it was shown";
        prompt.show();
        QTest::keyClicks(textBox(prompt), c.typed);
        switch (c.close) {
            case Close::Return:
                QTest::keyClick(textBox(prompt), Qt::Key_Return);
                break;
            case Close::Enter:
                QTest::keyClick(textBox(prompt), Qt::Key_Enter);
                break;
            case Close::Ok:
                QTest::mouseClick(prompt.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
                break;
            case Close::Escape:
                QTest::keyClick(textBox(prompt), Qt::Key_Escape);
                break;
            case Close::Cancel:
                QTest::mouseClick(prompt.findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
                break;
            case Close::TitleBar:
                EXPECT_TRUE(prompt.close());
                break;
        }
        EXPECT_FALSE(prompt.isVisible()) << "every way closes it, a wrong password too";
        EXPECT_EQ(prompt.takeResult(), c.result);
        EXPECT_FALSE(prompt.takeResult()) << "reading resets the flag";
    }
}

TEST(frmPassword, ShowingItAnewForgetsTheTextAndTheUnreadResult) {
    frmPassword prompt{LanguageFile()};
    prompt.setExpected("s3cret");
    prompt.show();
    QTest::keyClicks(textBox(prompt), "s3cret");
    QTest::keyClick(textBox(prompt), Qt::Key_Return);
    prompt.show();
    EXPECT_EQ(textBox(prompt)->text(), "");
    prompt.close();
    EXPECT_FALSE(prompt.takeResult());
}

TEST(frmPassword, IsCaptionedFromTheLanguageFile) {
    test::TempDir dir;
    const LanguageFile german(dir.write("german.lng",
                                        "[frmPassword]\nCaption=Kennwort\nLabel1=Kennwort:\n"
                                        "cmdCancel=Abbrechen\n"));
    frmPassword prompt(german);
    EXPECT_EQ(prompt.objectName(), "frmPassword");
    EXPECT_EQ(prompt.windowTitle(), "Kennwort");
    EXPECT_EQ(prompt.findChild<QLabel*>("Label1")->text(), "Kennwort:");
    EXPECT_EQ(prompt.findChild<QPushButton*>("cmdCancel")->text(), "Abbrechen");
    EXPECT_EQ(prompt.findChild<QPushButton*>("cmdOk")->text(), "OK");
}

// The modal path, answered from inside its event loop.
bool askAndAnswer(const std::string& expected, const QString& typed, Qt::Key key) {
    QTimer::singleShot(0, [typed, key] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* prompt = qobject_cast<frmPassword*>(window); prompt && prompt->isVisible()) {
                QTest::keyClicks(textBox(*prompt), typed);
                QTest::keyClick(textBox(*prompt), key);
                return;
            }
        }
        ADD_FAILURE() << "no prompt shown";
    });
    return AskPassword(nullptr, expected, LanguageFile());
}

TEST(AskPassword, TrueOnlyForTheRightPasswordAndOk) {
    EXPECT_TRUE(askAndAnswer("pw", "pw", Qt::Key_Return));
    EXPECT_FALSE(askAndAnswer("pw", "PW", Qt::Key_Return));
    EXPECT_FALSE(askAndAnswer("pw", "pw", Qt::Key_Escape));
}

}  // namespace
}  // namespace kestrel::ui
