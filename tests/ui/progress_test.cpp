// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progress.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "core/engine_flags.h"
#include "core/language_file.h"
#include "core/messages.h"

namespace kestrel::ui {
namespace {

class ProgressTest : public ::testing::Test {
protected:
    ProgressTest()
        : progress(
              flags, messages, [this]() -> const LanguageFile& { return language; },
              [] { return true; }, [this] { return now; }, [](double, const std::string&) {}) {
        progress.setAsker([this](const std::string& question) {
            questions.push_back(question);
            return answer;
        });
    }

    QPushButton& button(const char* name) {
        EXPECT_NE(progress.window(), nullptr);
        return *progress.window()->findChild<QPushButton*>(name);
    }
    static void deleteUnloaded() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    EngineFlags flags;
    Messages messages;
    LanguageFile language;
    std::vector<std::string> questions;
    bool answer = false;
    std::uint64_t now = 100000;
    mdlProgress progress;
};

// One window serves a whole run, above the main window and never modal: a phase does not close
// it, the next keeps its bars and the time of the whole run, and a pause pressed here is told.
TEST_F(ProgressTest, ARunKeepsOneWindowAboveItsOwnerThroughItsPhases) {
    QWidget owner;
    progress.setOwner(&owner);
    int pauses = 0;
    progress.setPauseListener([&] { ++pauses; });
    progress.beginRun();
    progress.ShowProgress("Archive");
    QPointer<frmBackupProgress> window = progress.window();
    EXPECT_EQ(window->parentWidget(), &owner);
    EXPECT_FALSE(window->isModal());
    progress.UpdateProgress("Archive", "a", 100, 60);
    now += 65'000;
    progress.CloseProgress();
    progress.ShowProgress("Encrypt");
    EXPECT_EQ(progress.window(), window.data());
    EXPECT_EQ(window->windowTitle(), "Encrypt");
    EXPECT_EQ(window->findChild<QProgressBar*>("pb")->value(), 60);
    EXPECT_EQ(window->findChild<QLabel*>("lblElapsed")->text(), "0:01:05");
    button("uxGraphicButton2").click();
    EXPECT_EQ(pauses, 1);
    progress.endRun();
    EXPECT_EQ(progress.window(), nullptr);
    progress.ShowProgress("Restore");
    EXPECT_EQ(progress.window()->findChild<QLabel*>("lblElapsed")->text(), "0:00:00");
}

TEST_F(ProgressTest, CancelThisFileActsOnlyWhileTheFileCanBeSkipped) {
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

}  // namespace
}  // namespace kestrel::ui
