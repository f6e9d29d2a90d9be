#include "ui/progress.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/engine_flags.h"
#include "core/language_file.h"
#include "core/messages.h"
#include "support/temp_dir.h"
#include "ui/language.h"
#include "ui/picture_box.h"

namespace kestrel::ui {
namespace {

class ProgressTest : public ::testing::Test {
protected:
    ProgressTest()
        : progress(
              flags, messages, [this]() -> const LanguageFile& { return language; },
              [this] { return mainVisible; }, [this] { return now; },
              [this](double percent, const std::string& tip) { tray.emplace_back(percent, tip); }) {
        progress.setAsker([this](const std::string& question) {
            questions.push_back(question);
            return answer;
        });
        progress.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    template <class T>
    T& control(const char* name) {
        EXPECT_NE(progress.window(), nullptr);
        T* found = progress.window()->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return *found;
    }
    QString text(const char* label) { return control<QLabel>(label).text(); }
    int value(const char* bar) { return control<QProgressBar>(bar).value(); }
    QPushButton& button(const char* name) { return control<QPushButton>(name); }

    void useLanguage(const std::string& text) {
        const std::string path = dir.path() + "/test.lng";
        std::ofstream(path) << text;
        language = LanguageFile(path);
    }

    static void deleteUnloaded() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    test::TempDir dir;
    EngineFlags flags;
    Messages messages;
    LanguageFile language;
    bool mainVisible = true;
    std::uint64_t now = 100000;
    std::vector<std::pair<double, std::string>> tray;
    std::vector<std::string> questions;
    bool answer = false;
    mdlProgress progress;
};

TEST_F(ProgressTest, TotalOfHundredFillsTheBarAndOutOfRangeValuesChangeNothing) {
    progress.ShowProgress("Copy");
    progress.UpdateProgress("Copy", "a", 40, 100);
    EXPECT_EQ(value("pb"), 100);
    EXPECT_EQ(text("lblProgress"), "100.00%");
    EXPECT_EQ(value("bp2"), 40);
    EXPECT_EQ(text("lblETRem"), "40.00%");

    progress.UpdateProgress("Copy", "a", 100.5, 100.5);
    EXPECT_EQ(value("pb"), 100);
    EXPECT_EQ(text("lblProgress"), "100.00%");
    EXPECT_EQ(value("bp2"), 40);
    EXPECT_EQ(text("lblETRem"), "40.00%");

    progress.UpdateProgress("Copy", "a", -0.01, std::nan(""));
    EXPECT_EQ(value("bp2"), 40);
    EXPECT_EQ(text("lblETRem"), "40.00%");
    EXPECT_EQ(text("lblProgress"), "100.00%");

    progress.UpdateProgress("Copy", "a", 0, 0);
    EXPECT_EQ(text("lblProgress"), "0.00%") << "0 lies in the range";
    EXPECT_EQ(text("lblETRem"), "0.00%");
}

TEST_F(ProgressTest, PercentagesUseTheLocaleDecimalSeparator) {
    progress.setLocale(QLocale(QLocale::German, QLocale::Germany));
    progress.UpdateProgress("Kopieren", "a", 7.125, 45.5);
    EXPECT_EQ(text("lblProgress"), "45,50%");
    EXPECT_EQ(text("lblETRem"), "7,13%");
    EXPECT_EQ(value("pb"), 45);
    ASSERT_EQ(tray.size(), 1u);
    EXPECT_EQ(tray[0].second, "45,50%-Kopieren");
}

TEST_F(ProgressTest, LongItemsAreShortenedOnceByCharacters) {
    QString item;
    for (int i = 0; i < 80; ++i) {
        item += QChar(u'A' + i % 26);
    }
    progress.UpdateProgress("t", item.toStdString(), 0, 0);
    const QString shown = text("lblFile");
    EXPECT_EQ(shown, item.left(25) + "..." + item.right(26));
    EXPECT_EQ(shown.size(), 54);
    progress.UpdateProgress("t", shown.toStdString(), 0, 0);
    EXPECT_EQ(text("lblFile"), shown) << "a shortened text comes back as it is";

    const QString fifty(50, u'x');
    progress.UpdateProgress("t", fifty.toStdString(), 0, 0);
    EXPECT_EQ(text("lblFile"), fifty);

    // 51 characters, but 52 UTF-16 units and far more UTF-8 bytes.
    const QString wide =
        QString(24, u'ä') + QString::fromUtf8("\xF0\x9F\x90\xA6") + QString(26, u'ö');
    EXPECT_EQ(shortenedItem(wide), QString(24, u'ä') + QString::fromUtf8("\xF0\x9F\x90\xA6") +
                                       "..." + QString(26, u'ö'));
    const QString birds = QString(40, u'b') + QString::fromUtf8("\xF0\x9F\x90\xA6").repeated(20);
    const QString cut = shortenedItem(birds);
    EXPECT_EQ(cut.toUcs4().size(), 54);
    EXPECT_FALSE(cut.back().isHighSurrogate());
    EXPECT_TRUE(cut.endsWith(QString::fromUtf8("\xF0\x9F\x90\xA6").repeated(20)));
}

TEST_F(ProgressTest, TheWindowShowsOnlyWithTheMainWindowAndAnUpdateLoadsItHidden) {
    EXPECT_EQ(progress.window(), nullptr);
    progress.UpdateProgress("Searching", "f.txt", 0, 0);
    ASSERT_NE(progress.window(), nullptr);
    EXPECT_FALSE(progress.window()->isVisible());
    EXPECT_EQ(progress.window()->windowTitle(), "Searching");
    EXPECT_EQ(text("lblFile"), "f.txt");
    progress.ShowProgress("Copy");
    EXPECT_TRUE(progress.window()->isVisible());
    EXPECT_FALSE(progress.window()->isModal());
    EXPECT_EQ(progress.window()->windowTitle(), "Copy");
    progress.CloseProgress();

    // Hidden with the main window: nothing shows, and Abort asks nothing.
    mainVisible = false;
    flags.bBackupRunning = true;
    progress.ShowProgress("Copy");
    ASSERT_NE(progress.window(), nullptr);
    EXPECT_FALSE(progress.window()->isVisible());
    button("cmdCancel").click();
    EXPECT_TRUE(flags.bAbortBackup);
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(flags.bBackupRunning);
    EXPECT_NE(progress.window(), nullptr) << "the window stays";
}

TEST_F(ProgressTest, ShowProgressStartsBothBarsAgain) {
    progress.ShowProgress("one");
    control<QProgressBar>("pb").setRange(0, 1000);
    progress.UpdateProgress("one", "a", 30, 60);
    QPointer<frmBackupProgress> first = progress.window();
    progress.ShowProgress("two");
    EXPECT_EQ(progress.window(), first) << "a loaded window is reused";
    EXPECT_EQ(value("pb"), 0);
    EXPECT_EQ(value("bp2"), 0);
    EXPECT_EQ(control<QProgressBar>("pb").maximum(), 100);
    EXPECT_EQ(control<QProgressBar>("bp2").minimum(), 0);
    EXPECT_EQ(progress.window()->windowTitle(), "two");
}

TEST_F(ProgressTest, PauseTogglesAndFollowsAPauseSetElsewhere) {
    progress.ShowProgress("Copy");
    QPushButton& pause = button("uxGraphicButton2");
    pause.click();
    EXPECT_TRUE(flags.bPauseBackup);
    EXPECT_EQ(pause.text(), "Continue");
    EXPECT_EQ(pause.icon().cacheKey(), control<PictureBox>("Picture2").icon().cacheKey());
    pause.click();
    EXPECT_FALSE(flags.bPauseBackup);
    EXPECT_EQ(pause.text(), "Pause");
    EXPECT_EQ(pause.icon().cacheKey(), control<PictureBox>("Picture1").icon().cacheKey());
    flags.bPauseBackup = true;
    progress.syncPause();
    EXPECT_EQ(pause.text(), "Continue");
    pause.click();
    EXPECT_FALSE(flags.bPauseBackup);
}

TEST_F(ProgressTest, CancelThisFileActsOnlyWhileTheOperationCanSkipTheFile) {
    progress.ShowProgress("Copy");
    EXPECT_FALSE(button("uxGraphicButton1").isEnabled()) << "disabled until the run says so";
    button("uxGraphicButton1").click();
    EXPECT_FALSE(flags.bCancelFile);

    progress.setFileCancellable(true);
    EXPECT_TRUE(button("uxGraphicButton1").isEnabled());
    button("uxGraphicButton1").click();
    EXPECT_TRUE(flags.bCancelFile);
    EXPECT_FALSE(flags.bAbortBackup);
    EXPECT_FALSE(flags.bPauseBackup);

    // A window the user closed comes back, hidden, as the run left it.
    progress.window()->close();
    progress.UpdateProgress("Copy", "b", 0, 50);
    EXPECT_TRUE(button("uxGraphicButton1").isEnabled());
    progress.setFileCancellable(false);
    EXPECT_FALSE(button("uxGraphicButton1").isEnabled());
    progress.CloseProgress();
    progress.ShowProgress("Restore");
    EXPECT_FALSE(button("uxGraphicButton1").isEnabled());
    flags.bCancelFile = false;
    button("uxGraphicButton1").click();
    EXPECT_FALSE(flags.bCancelFile);
}

TEST_F(ProgressTest, AbortAsksAndYesClosesButLeavesTheRunToEndItself) {
    flags.bBackupRunning = true;
    flags.bPauseBackup = true;
    progress.ShowProgress("Copy");
    QPointer<frmBackupProgress> window = progress.window();
    button("cmdCancel").click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], "Do you really want to cancel the backup/restore process!");
    EXPECT_FALSE(flags.bAbortBackup) << "No changes nothing";
    EXPECT_TRUE(flags.bPauseBackup);
    EXPECT_FALSE(flags.bCancelFile);
    EXPECT_TRUE(window->isVisible());

    answer = true;
    button("cmdCancel").click();
    EXPECT_TRUE(flags.bAbortBackup);
    EXPECT_TRUE(flags.bBackupRunning);
    EXPECT_EQ(progress.window(), nullptr);
    ASSERT_FALSE(window.isNull());
    EXPECT_FALSE(window->isVisible());
    deleteUnloaded();
    EXPECT_TRUE(window.isNull()) << "an unloaded window is deleted";
    progress.UpdateProgress("Copy", "b", 0, 50);
    ASSERT_NE(progress.window(), nullptr);
    EXPECT_FALSE(progress.window()->isVisible()) << "the next update loads it hidden";
}

TEST_F(ProgressTest, ClosingByTheTitleBarUnloadsAndAClickQueuedBeforeDoesNothing) {
    progress.ShowProgress("Copy");
    progress.setFileCancellable(true);
    QPointer<frmBackupProgress> window = progress.window();
    QPushButton* cancelFile = window->findChild<QPushButton*>("uxGraphicButton1");
    window->close();
    EXPECT_EQ(progress.window(), nullptr);
    cancelFile->click();
    EXPECT_FALSE(flags.bCancelFile);
    deleteUnloaded();
    EXPECT_TRUE(window.isNull());
    progress.CloseProgress();
    EXPECT_EQ(progress.window(), nullptr);
}

TEST_F(ProgressTest, TheTrayHearsOfChangesAtMostEveryFiftyMilliseconds) {
    progress.ShowProgress("Copy");
    progress.UpdateProgress("Copy", "a", 0, 10);
    ASSERT_EQ(tray.size(), 1u) << "the first goes at once";
    EXPECT_EQ(tray[0].first, 10);
    EXPECT_EQ(tray[0].second, "10.00%-Copy");

    now += 10;
    progress.UpdateProgress("Copy", "a", 0, 10.5);
    EXPECT_EQ(tray.size(), 1u);
    now += 40;
    progress.UpdateProgress("Copy", "a", 0, 11);
    ASSERT_EQ(tray.size(), 2u);
    EXPECT_EQ(tray[1].second, "11.00%-Copy");

    now += 500;
    progress.UpdateProgress("Copy", "a", 0, 11);
    EXPECT_EQ(tray.size(), 2u) << "an unchanged total is not sent again";
    progress.UpdateProgress("Copy", "a", 0, 12);
    EXPECT_EQ(tray.size(), 3u);
    now += 1;
    progress.UpdateProgress("Copy", "a", 0, 13);
    EXPECT_EQ(tray.size(), 3u);
    now += 49;
    progress.UpdateProgress("Copy", "b", 0, 13);
    ASSERT_EQ(tray.size(), 4u) << "a change held back goes with the next call that is due";
    EXPECT_EQ(tray[3].second, "13.00%-Copy");
    now += 1;
    progress.UpdateProgress("Copy", "b", 0, 100);
    ASSERT_EQ(tray.size(), 5u) << "100 % is never held back";
    EXPECT_EQ(tray[4].second, "100.00%-Copy");
    now += 1;
    progress.UpdateProgress("Copy", "b", 0, 101);
    EXPECT_EQ(tray.size(), 5u);

    progress.ShowProgress("Next");
    progress.UpdateProgress("Next", "c", 0, 0);
    ASSERT_EQ(tray.size(), 6u) << "a new operation starts afresh";
    EXPECT_EQ(tray[5].second, "0.00%-Next");
}

TEST_F(ProgressTest, ElapsedRateAndTimeLeftFollowTheClockLessPauses) {
    progress.ShowProgress("Copy");
    EXPECT_EQ(text("lblElapsed"), "0:00:00");
    EXPECT_EQ(text("lblRate"), "");
    EXPECT_EQ(text("lblRemaining"), "");

    now += 500;
    progress.UpdateProgress("Copy", "a", 0, 5);
    EXPECT_EQ(text("lblRate"), "") << "too early for a rate";
    EXPECT_EQ(text("lblRemaining"), "");
    now += 500;
    progress.UpdateProgress("Copy", "b", 50, 10);
    progress.UpdateProgress("Copy", "b", 60, 10);
    EXPECT_EQ(text("lblRate"), "2.0") << "items are counted by changes of the item text";
    EXPECT_EQ(text("lblRemaining"), "") << "too early for an estimate";
    now += 1000;
    progress.UpdateProgress("Copy", "c", 0, 20);
    progress.UpdateProgress("Copy", "d", 0, 25);
    EXPECT_EQ(text("lblElapsed"), "0:00:02");
    EXPECT_EQ(text("lblRate"), "2.0");
    EXPECT_EQ(text("lblRemaining"), "0:00:06");

    button("uxGraphicButton2").click();
    now += 3600 * 1000;
    button("uxGraphicButton2").click();
    progress.UpdateProgress("Copy", "d", 0, 25);
    EXPECT_EQ(text("lblElapsed"), "1:00:02");
    EXPECT_EQ(text("lblRate"), "2.0") << "paused time does not count";
    EXPECT_EQ(text("lblRemaining"), "0:00:06");

    progress.UpdateProgress("Copy", "d", 0, 100);
    EXPECT_EQ(text("lblRemaining"), "0:00:00");
}

TEST_F(ProgressTest, ActivationAppliesTheLanguageButKeepsWhatTheRunShows) {
    useLanguage(
        "[frmBackupProgress]\nCaption=Sicherungsfortschritt\nLabel1=Dateifortschritt:\n"
        "lblProgress=0%\nlblFile=Datei\nuxGraphicButton2=Pause\ncmdCancel=Abbrechen\n"
        "lblElapsed=0:00:00\n");
    progress.UpdateProgress("Kopieren", "", 0, 0);
    EXPECT_EQ(text("Label1"), "Dateifortschritt:") << "captioned on load";
    EXPECT_EQ(text("lblFile"), "") << "an update shows its item, even an empty one";

    now += 5000;
    progress.UpdateProgress("Kopieren", "brief.txt", 30, 45);
    button("uxGraphicButton2").click();
    useLanguage(
        "[frmBackupProgress]\nCaption=X\nLabel1=Neu:\nlblProgress=0%\nlblFile=Datei\n"
        "uxGraphicButton2=Anhalten\nlblElapsed=0:00:00\n");
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(progress.window(), &activate);
    EXPECT_EQ(text("Label1"), "Neu:");
    EXPECT_EQ(text("lblProgress"), "45.00%");
    EXPECT_EQ(text("lblFile"), "brief.txt");
    EXPECT_EQ(text("lblElapsed"), "0:00:05");
    EXPECT_EQ(progress.window()->windowTitle(), "Kopieren");
    EXPECT_EQ(button("uxGraphicButton2").text(), "Continue") << "still paused";
}

}  // namespace
}  // namespace kestrel::ui
