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

// A prompt shown without blocking, the expected password set and the text typed.
void showAndType(frmPassword& prompt, const std::string& expected, const QString& typed) {
    prompt.setExpected(expected);
    prompt.show();
    QTest::keyClicks(textBox(prompt), typed);
}

TEST(frmPassword, HidesWhatIsTyped) {
    frmPassword prompt{LanguageFile()};
    ASSERT_NE(textBox(prompt), nullptr);
    EXPECT_EQ(textBox(prompt)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(prompt.objectName(), "frmPassword");
}

TEST(frmPassword, EnterWithTheRightPasswordIsTrue) {
    frmPassword prompt{LanguageFile()};
    showAndType(prompt, "s3cret", "s3cret");
    QTest::keyClick(textBox(prompt), Qt::Key_Return);
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_TRUE(prompt.takeResult());
}

TEST(frmPassword, OkWithTextDifferingInCaseIsFalse) {
    frmPassword prompt{LanguageFile()};
    showAndType(prompt, "Secret", "secret");
    QTest::mouseClick(prompt.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
    EXPECT_FALSE(prompt.isVisible()) << "OK closes the prompt also on a wrong password";
    EXPECT_FALSE(prompt.takeResult());
}

TEST(frmPassword, OnlyTheWholeTextCounts) {
    for (const char* typed : {"secre", "secret ", " secret", "secretsecret", ""}) {
        frmPassword prompt{LanguageFile()};
        showAndType(prompt, "secret", typed);
        QTest::keyClick(textBox(prompt), Qt::Key_Enter);
        EXPECT_FALSE(prompt.takeResult()) << '"' << typed << '"';
    }
}

TEST(frmPassword, AnEmptyExpectedPasswordTakesAnEmptyText) {
    frmPassword prompt{LanguageFile()};
    showAndType(prompt, "", "");
    QTest::keyClick(textBox(prompt), Qt::Key_Return);
    EXPECT_TRUE(prompt.takeResult());
}

TEST(frmPassword, EscapeWithTheRightPasswordIsFalse) {
    frmPassword prompt{LanguageFile()};
    showAndType(prompt, "s3cret", "s3cret");
    QTest::keyClick(textBox(prompt), Qt::Key_Escape);
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_EQ(prompt.result(), QDialog::Rejected);
    EXPECT_FALSE(prompt.takeResult());
}

TEST(frmPassword, CancelWithTheRightPasswordIsFalse) {
    frmPassword prompt{LanguageFile()};
    showAndType(prompt, "s3cret", "s3cret");
    QTest::mouseClick(prompt.findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_FALSE(prompt.takeResult());
}

TEST(frmPassword, ClosingByTheTitleBarIsFalse) {
    frmPassword prompt{LanguageFile()};
    showAndType(prompt, "s3cret", "s3cret");
    EXPECT_TRUE(prompt.close());
    EXPECT_FALSE(prompt.takeResult());
}

TEST(frmPassword, TheFlagIsFalseBeforeShowingAndResetAfterReading) {
    frmPassword prompt{LanguageFile()};
    prompt.setExpected("s3cret");
    EXPECT_FALSE(prompt.takeResult());
    prompt.show();
    QTest::keyClicks(textBox(prompt), "s3cret");
    QTest::keyClick(textBox(prompt), Qt::Key_Return);
    EXPECT_TRUE(prompt.takeResult());
    EXPECT_FALSE(prompt.takeResult()) << "reading resets the flag";

    // Right again but not read: showing the prompt anew forgets it, and the text too.
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
