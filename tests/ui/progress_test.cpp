#include "ui/progress.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/engine_flags.h"
#include "core/language_file.h"
#include "core/messages.h"
#include "ui/qt_host.h"
#include "ui/tray_icon.h"

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
    // Total and item percentages as shown, "total|item".
    std::string percentages() {
        return (text("lblProgress") + "|" + text("lblETRem")).toStdString();
    }
    void useLanguage(const std::string& text) { language = LanguageFile::parse(text); }
    static void deleteUnloaded() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

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

TEST_F(ProgressTest, ValuesOutsideTheRangeChangeNothingAndTheLocaleGivesTheSeparator) {
    progress.ShowProgress("Copy");
    progress.UpdateProgress("Copy", "a", 40, 100);
    EXPECT_EQ(value("pb"), 100);
    EXPECT_EQ(value("bp2"), 40);
    progress.UpdateProgress("Copy", "a", 100.5, 100.5);
    progress.UpdateProgress("Copy", "a", -0.01, std::nan(""));
    EXPECT_EQ(percentages(), "100.00%|40.00%");
    EXPECT_EQ(value("bp2"), 40);
    progress.UpdateProgress("Copy", "a", 0, 0);
    EXPECT_EQ(percentages(), "0.00%|0.00%") << "0 lies in the range";

    progress.setLocale(QLocale(QLocale::German, QLocale::Germany));
    now += 1000;
    progress.UpdateProgress("Kopieren", "a", 7.125, 45.5);
    EXPECT_EQ(percentages(), "45,50%|7,13%");
    EXPECT_EQ(tray.back().second, "45,50%-Kopieren");
}

TEST_F(ProgressTest, LongItemsAreShortenedOnceByCharacters) {
    QString item;
    for (int i = 0; i < 80; ++i) {
        item += QChar(u'A' + i % 26);
    }
    progress.UpdateProgress("t", item.toStdString(), 0, 0);
    const QString shown = text("lblFile");
    EXPECT_EQ(shown, item.left(25) + "..." + item.right(26));
    progress.UpdateProgress("t", shown.toStdString(), 0, 0);
    EXPECT_EQ(text("lblFile"), shown) << "a shortened text comes back as it is";
    EXPECT_EQ(shortenedItem(QString(50, u'x')), QString(50, u'x'));

    // 51 characters, but 52 UTF-16 units and far more UTF-8 bytes.
    const QString bird = QString::fromUtf8("\xF0\x9F\x90\xA6");
    const QString wide = QString(24, u'ä') + bird + QString(26, u'ö');
    EXPECT_EQ(shortenedItem(wide), QString(24, u'ä') + bird + "..." + QString(26, u'ö'));
    const QString cut = shortenedItem(QString(40, u'b') + bird.repeated(20));
    EXPECT_EQ(cut.toUcs4().size(), 54);
    EXPECT_TRUE(cut.endsWith(bird.repeated(20)));
}

TEST_F(ProgressTest, TheWindowShowsOnlyWithTheMainWindowAndStartsAfresh) {
    progress.UpdateProgress("Searching", "f.txt", 0, 0);
    ASSERT_NE(progress.window(), nullptr);
    EXPECT_FALSE(progress.window()->isVisible()) << "an update loads it hidden";
    progress.ShowProgress("Copy");
    EXPECT_TRUE(progress.window()->isVisible());
    control<QProgressBar>("pb").setRange(0, 1000);
    progress.UpdateProgress("Copy", "a", 30, 60);
    QPointer<frmBackupProgress> first = progress.window();
    progress.ShowProgress("two");
    EXPECT_EQ(progress.window(), first) << "a loaded window is reused";
    EXPECT_EQ(value("pb"), 0);
    EXPECT_EQ(value("bp2"), 0);
    EXPECT_EQ(control<QProgressBar>("pb").maximum(), 100);
    EXPECT_EQ(progress.window()->windowTitle(), "two");
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
}

TEST_F(ProgressTest, PauseTogglesAndFollowsAPauseSetElsewhere) {
    progress.ShowProgress("Copy");
    QPushButton& pause = button("uxGraphicButton2");
    pause.click();
    EXPECT_TRUE(flags.bPauseBackup);
    EXPECT_EQ(pause.text(), "Continue");
    pause.click();
    EXPECT_FALSE(flags.bPauseBackup);
    EXPECT_EQ(pause.text(), "Pause");
    flags.bPauseBackup = true;
    progress.syncPause();
    EXPECT_EQ(pause.text(), "Continue");
    pause.click();
    EXPECT_FALSE(flags.bPauseBackup);
}

TEST_F(ProgressTest, CancelThisFileActsOnlyWhileTheOperationCanSkipTheFile) {
    progress.ShowProgress("Copy");
    button("uxGraphicButton1").click();
    EXPECT_FALSE(flags.bCancelFile) << "disabled until the run says so";
    progress.setFileCancellable(true);
    button("uxGraphicButton1").click();
    EXPECT_TRUE(flags.bCancelFile);
    EXPECT_FALSE(flags.bAbortBackup);

    // A window the user closed comes back, hidden, as the run left it.
    progress.window()->close();
    progress.UpdateProgress("Copy", "b", 0, 50);
    EXPECT_TRUE(button("uxGraphicButton1").isEnabled());
    progress.setFileCancellable(false);
    flags.bCancelFile = false;
    button("uxGraphicButton1").click();
    EXPECT_FALSE(flags.bCancelFile);
}

TEST_F(ProgressTest, AbortAsksAndYesOrTheTitleBarUnloadsButLeavesTheRunToEndItself) {
    flags.bBackupRunning = true;
    flags.bPauseBackup = true;
    progress.ShowProgress("Copy");
    QPointer<frmBackupProgress> window = progress.window();
    button("cmdCancel").click();
    EXPECT_EQ(questions,
              std::vector<std::string>{"Do you really want to cancel the backup/restore process!"});
    EXPECT_FALSE(flags.bAbortBackup) << "No changes nothing";
    EXPECT_TRUE(flags.bPauseBackup);
    EXPECT_TRUE(window->isVisible());

    answer = true;
    button("cmdCancel").click();
    EXPECT_TRUE(flags.bAbortBackup);
    EXPECT_TRUE(flags.bBackupRunning);
    EXPECT_EQ(progress.window(), nullptr);
    deleteUnloaded();
    EXPECT_TRUE(window.isNull()) << "an unloaded window is deleted";

    // Closed by the title bar: unloaded, and a click queued before does nothing.
    progress.ShowProgress("Copy");
    progress.setFileCancellable(true);
    window = progress.window();
    QPushButton* cancelFile = window->findChild<QPushButton*>("uxGraphicButton1");
    window->close();
    EXPECT_EQ(progress.window(), nullptr);
    cancelFile->click();
    EXPECT_FALSE(flags.bCancelFile);
    deleteUnloaded();
    EXPECT_TRUE(window.isNull());
}

TEST_F(ProgressTest, TheTrayHearsOfChangesAtMostEveryFiftyMilliseconds) {
    progress.ShowProgress("Copy");
    const auto update = [&](std::uint64_t later, double total) {
        now += later;
        progress.UpdateProgress("Copy", "a", 0, total);
        return tray.size();
    };
    EXPECT_EQ(update(0, 10), 1u) << "the first goes at once";
    EXPECT_EQ(update(10, 10.5), 1u);
    EXPECT_EQ(update(40, 11), 2u);
    EXPECT_EQ(update(500, 11), 2u) << "an unchanged total is not sent again";
    EXPECT_EQ(update(0, 12), 3u);
    EXPECT_EQ(update(1, 13), 3u);
    EXPECT_EQ(update(49, 13), 4u) << "a change held back goes with the next call that is due";
    EXPECT_EQ(tray.back().second, "13.00%-Copy");
    EXPECT_EQ(update(1, 100), 5u) << "100 % is never held back";
    EXPECT_EQ(update(1, 101), 5u);
    progress.ShowProgress("Next");
    progress.UpdateProgress("Next", "c", 0, 0);
    ASSERT_EQ(tray.size(), 6u) << "a new operation starts afresh";
    EXPECT_EQ(tray.back().second, "0.00%-Next");
}

TEST_F(ProgressTest, ElapsedRateAndTimeLeftFollowTheClockLessPauses) {
    progress.ShowProgress("Copy");
    now += 500;
    progress.UpdateProgress("Copy", "a", 0, 5);
    EXPECT_EQ(text("lblRate"), "") << "too early for a rate";
    now += 500;
    progress.UpdateProgress("Copy", "b", 50, 10);
    progress.UpdateProgress("Copy", "b", 60, 10);
    EXPECT_EQ(text("lblRate"), "2.0") << "items are counted by changes of the item text";
    EXPECT_EQ(text("lblRemaining"), "") << "too early for an estimate";
    now += 1000;
    progress.UpdateProgress("Copy", "c", 0, 20);
    progress.UpdateProgress("Copy", "d", 0, 25);
    EXPECT_EQ(text("lblElapsed"), "0:00:02");
    EXPECT_EQ(text("lblRemaining"), "0:00:06");

    button("uxGraphicButton2").click();
    now += 3600 * 1000;
    button("uxGraphicButton2").click();
    progress.UpdateProgress("Copy", "d", 0, 25);
    EXPECT_EQ(text("lblElapsed"), "1:00:02");
    EXPECT_EQ(text("lblRate"), "2.0") << "paused time does not count";
    EXPECT_EQ(text("lblRemaining"), "0:00:06");
}

TEST_F(ProgressTest, ActivationAppliesTheLanguageButKeepsWhatTheRunShows) {
    const std::string captions =
        "lblProgress=0%\nlblFile=Datei\nuxGraphicButton2=Anhalten\nlblElapsed=0:00:00\n";
    useLanguage("[frmBackupProgress]\nLabel1=Dateifortschritt:\n" + captions);
    progress.UpdateProgress("Kopieren", "", 0, 0);
    EXPECT_EQ(text("Label1"), "Dateifortschritt:") << "captioned on load";
    EXPECT_EQ(text("lblFile"), "") << "an update shows its item, even an empty one";

    now += 5000;
    progress.UpdateProgress("Kopieren", "brief.txt", 30, 45);
    button("uxGraphicButton2").click();
    useLanguage("[frmBackupProgress]\nCaption=X\nLabel1=Neu:\n" + captions);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(progress.window(), &activate);
    EXPECT_EQ(text("Label1"), "Neu:");
    EXPECT_EQ(text("lblProgress"), "45.00%");
    EXPECT_EQ(text("lblFile"), "brief.txt");
    EXPECT_EQ(text("lblElapsed"), "0:00:05");
    EXPECT_EQ(progress.window()->windowTitle(), "Kopieren");
    EXPECT_EQ(button("uxGraphicButton2").text(), "Continue") << "still paused";
}

// A run of small files reports thousands of times a second; the window takes a new step, the
// end, and the latest values now and then, never the whole flood.
TEST(QtHost, ProgressReachesTheWindowRateLimitedButStepsAndTheEndAlways) {
    QtHost host;
    std::vector<std::string> shown;
    QtHost::Views views;
    views.updateProgress = [&](const std::string& title, const std::string& item, double,
                               double total) {
        shown.push_back(title + "|" + item + "|" + std::to_string(static_cast<int>(total)));
    };
    host.setViews(views);
    host.showProgress("Backup");
    for (int i = 0; i < 2000; ++i) {
        host.updateProgress("Copy", "f" + std::to_string(i), 0, i / 40.0);
    }
    host.updateProgress("Copy", "last", 100, 100);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "Copy|f0|0") << "a new step shows at once";
    EXPECT_EQ(shown.back(), "Copy|last|100") << "the end always shows";
    EXPECT_LT(shown.size(), 2001u);
    host.updateProgress("Upload", "x", 0, 0);
    EXPECT_EQ(shown.back(), "Upload|x|0");
}

constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);

TEST(DrawProgressIcon, AnOutlinedWhiteSquareFilledFromTheLeftAndClamped) {
    for (int size : {16, 32}) {
        SCOPED_TRACE(size);
        const QImage empty = drawProgressIcon(0, size);
        ASSERT_EQ(empty.size(), QSize(size, size));
        EXPECT_EQ(empty.pixel(size - 1, size - 1), kBlue) << "outline";
        EXPECT_EQ(empty.pixel(1, 1), kWhite);
        const QImage half = drawProgressIcon(50, size);
        EXPECT_EQ(half.pixel(1, size - 2), kBlue);
        EXPECT_EQ(half.pixel(size / 2 - 2, 1), kBlue);
        EXPECT_EQ(half.pixel(size / 2 + 1, 1), kWhite);
        EXPECT_EQ(half.pixel(size - 2, 1), kWhite);
        EXPECT_EQ(drawProgressIcon(100, size).pixel(size - 2, size - 2), kBlue);
    }
    EXPECT_EQ(drawProgressIcon(250, 16), drawProgressIcon(100, 16));
    EXPECT_EQ(drawProgressIcon(-3, 16), drawProgressIcon(0, 16));
    EXPECT_EQ(drawProgressIcon(std::nan(""), 16), drawProgressIcon(0, 16));
    EXPECT_TRUE(drawProgressIcon(50, 2).isNull());
}

// The number is written white over the bar and blue over the rest: it must show on both sides
// of the bar's edge.
TEST(DrawProgressIcon, TheNumberShowsInBothHalves) {
    const QImage image = drawProgressIcon(50, 32);
    bool lightOnBlue = false;
    bool darkOnWhite = false;
    for (int y = 2; y < 30; ++y) {
        for (int x = 2; x < 30; ++x) {
            const int red = QColor::fromRgb(image.pixel(x, y)).red();
            lightOnBlue |= x < 16 && red > 128;
            darkOnWhite |= x >= 16 && red < 128;
        }
    }
    EXPECT_TRUE(lightOnBlue);
    EXPECT_TRUE(darkOnWhite);
}

}  // namespace
}  // namespace kestrel::ui
