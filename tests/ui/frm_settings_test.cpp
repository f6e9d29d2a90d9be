#include "ui/frm_settings.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "support/temp_dir.h"
#include "support/test_context.h"

namespace kestrel::ui {
namespace {

// A service whose answers and calls a test sets and counts.
struct FakeService {
    bool present = true;
    bool succeeds = true;
    int installs = 0;
    int uninstalls = 0;

    ServiceCommands commands() {
        return {[this] { return present; },
                [this] {
                    ++installs;
                    return succeeds;
                },
                [this] {
                    ++uninstalls;
                    return succeeds;
                }};
    }
};

class SettingsWindow : public ::testing::Test {
protected:
    SettingsWindow() {
        tc.dir.write("Languages/english.lng", "[msgStrings]\nstrMsgNever=Never\n");
        germanPath = tc.dir.write("Languages/german.lng",
                                  "[msgStrings]\nstrMsgNever=Nie\n"
                                  "[frmSettings]\nCaption=Programmeinstellungen\n"
                                  "chkHide=Fenster beim Start ausblenden\n");
    }

    Settings& settings() { return tc.ctx->settings; }
    std::string stored(const char* name) { return settings().general(name, "(absent)"); }

    std::unique_ptr<frmSettings> open() {
        auto window = std::make_unique<frmSettings>(*tc.ctx, service.commands());
        window->show();
        return window;
    }

    template <typename T>
    static T* control(frmSettings& window, const char* name) {
        T* found = window.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static QCheckBox* box(frmSettings& window, const char* name) {
        return control<QCheckBox>(window, name);
    }
    static QComboBox* languages(frmSettings& window) {
        return control<QComboBox>(window, "Combo1");
    }
    static void click(frmSettings& window, const char* button) {
        QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
    }
    static void ok(frmSettings& window) { click(window, "uxGraphicButton1"); }

    test::TestContext tc;
    FakeService service;
    std::string germanPath;
};

TEST_F(SettingsWindow, HasTheDesignedControlsAndCaptions) {
    auto window = open();
    EXPECT_EQ(window->objectName(), "frmSettings");
    EXPECT_EQ(window->windowTitle(), "Program settings");
    EXPECT_EQ(control<QGroupBox>(*window, "Frame3")->title(), "Selet the programs language");
    EXPECT_EQ(control<QLabel>(*window, "Label1")->text(), "Select language:");
    EXPECT_EQ(control<QGroupBox>(*window, "Frame2")->title(), "General settings");
    EXPECT_EQ(box(*window, "chkService")->text(), "Run as windows service");
    EXPECT_EQ(box(*window, "chkService")->toolTip(), "Installs the program as a windows service");
    EXPECT_EQ(box(*window, "chkHide")->text(), "Hide window on start");
    EXPECT_EQ(box(*window, "chkHide")->toolTip(), "Hides the main window on program start");
    EXPECT_EQ(box(*window, "chkCatchUp")->text(), "Catch up missed scheduled backups");
    EXPECT_EQ(control<QGroupBox>(*window, "Frame1")->title(),
              "Prevent scheduled backups from start");
    EXPECT_EQ(box(*window, "Check1")->text(), "when main window is open");
    EXPECT_EQ(box(*window, "Check1")->toolTip(),
              "Prevents scheduled backup to occur when main window is visible");
    EXPECT_EQ(control<QPushButton>(*window, "uxGraphicButton1")->text(), "OK");
    EXPECT_EQ(control<QPushButton>(*window, "uxGraphicButton2")->text(), "Cancel");
}

TEST_F(SettingsWindow, IsCaptionedInTheCurrentLanguage) {
    settings().languageFilePath = germanPath;
    auto window = open();
    EXPECT_EQ(window->windowTitle(), "Programmeinstellungen");
    EXPECT_EQ(box(*window, "chkHide")->text(), "Fenster beim Start ausblenden");
    EXPECT_EQ(box(*window, "Check1")->text(), "when main window is open") << "absent key";
}

TEST_F(SettingsWindow, ListsEveryLanguageAndSelectsTheStoredOneWithoutCase) {
    ASSERT_TRUE(settings().saveGeneral("Language", "ENGLISH"));
    auto window = open();
    QStringList items;
    for (int i = 0; i < languages(*window)->count(); ++i) {
        items << languages(*window)->itemText(i);
    }
    items.sort();
    EXPECT_EQ(items, QStringList({"English", "German"}));
    EXPECT_EQ(languages(*window)->currentText(), "English");
}

TEST_F(SettingsWindow, WithoutAStoredLanguageEnglishIsSelected) {
    auto window = open();
    EXPECT_EQ(languages(*window)->currentText(), "English");
}

TEST_F(SettingsWindow, AnUnknownLanguageSelectsNothingAndOkStoresNothingForIt) {
    ASSERT_TRUE(settings().saveGeneral("Language", "klingon"));
    auto window = open();
    EXPECT_EQ(languages(*window)->currentIndex(), -1);
    ok(*window);
    EXPECT_EQ(stored("Language"), "(absent)") << "the empty text removes the value";
    EXPECT_EQ(settings().languageFilePath, tc.dir.file("Languages/english.lng"));
}

TEST(AvailableLanguages, ProgramFolderFirstEachNameOnceOnlyLngFiles) {
    test::TempDir home;
    test::TempDir assets;
    home.write("Languages/gERMAN.lng", "");
    home.write("Languages/notes.txt", "");
    home.write("Languages/.lng", "");
    home.write("Languages/folder.lng/inside", "");
    assets.write("Languages/German.lng", "");
    assets.write("Languages/FRENCH.LNG", "");
    const std::vector<std::string> found =
        availableLanguages(ProgramFolder(home.path(), {assets.path(), home.file("nowhere")}));
    EXPECT_EQ(found, std::vector<std::string>({"German", "French"}));
}

TEST_F(SettingsWindow, ShowsTheStoredFlags) {
    settings().blockSchedule = false;
    settings().RunAsService = 1;
    ASSERT_TRUE(settings().saveGeneral("HideWindowOnStart", "1"));
    auto window = open();
    EXPECT_FALSE(box(*window, "Check1")->isChecked());
    EXPECT_TRUE(box(*window, "chkHide")->isChecked());
    EXPECT_TRUE(box(*window, "chkService")->isChecked());
    EXPECT_TRUE(box(*window, "chkService")->isEnabled());
    EXPECT_FALSE(box(*window, "chkCatchUp")->isChecked()) << "the default is 0";
}

TEST_F(SettingsWindow, OkWithTheScheduleBlockClearedLetsScheduledRunsStartAtOnce) {
    ASSERT_TRUE(settings().blockSchedule);
    auto window = open();
    EXPECT_TRUE(box(*window, "Check1")->isChecked());
    box(*window, "Check1")->click();
    ok(*window);
    EXPECT_FALSE(settings().blockSchedule);
    EXPECT_EQ(stored("blockSchedule"), "0");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
}

TEST_F(SettingsWindow, OkStoresEverythingAndSwitchesTheLanguage) {
    auto window = open();
    QSignalSpy changed(window.get(), &frmSettings::languageChanged);
    box(*window, "chkHide")->click();
    languages(*window)->setCurrentIndex(languages(*window)->findText("German"));
    ok(*window);
    EXPECT_EQ(stored("HideWindowOnStart"), "1");
    EXPECT_EQ(stored("blockSchedule"), "1");
    EXPECT_EQ(stored("RunAsService"), "0");
    EXPECT_EQ(stored("CatchUpMissedRuns"), "0");
    EXPECT_EQ(stored("Language"), "German");
    EXPECT_EQ(settings().languageFilePath, germanPath);
    EXPECT_EQ(tc.ctx->msg("strMsgNever"), "Nie") << "the message table is rebuilt";
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(tc.host.boxes.empty()) << "the service was not touched";
    EXPECT_EQ(service.installs + service.uninstalls, 0);
}

TEST_F(SettingsWindow, CancelChangesNothing) {
    ASSERT_TRUE(settings().saveGeneral("Language", "english"));
    const std::string before = test::readAll(tc.dir.file("settings.ini"));
    auto window = open();
    QSignalSpy changed(window.get(), &frmSettings::languageChanged);
    for (const char* name : {"Check1", "chkHide", "chkService", "chkCatchUp"}) {
        box(*window, name)->click();
    }
    languages(*window)->setCurrentIndex(languages(*window)->findText("German"));
    click(*window, "uxGraphicButton2");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_EQ(test::readAll(tc.dir.file("settings.ini")), before);
    EXPECT_TRUE(settings().blockSchedule);
    EXPECT_EQ(settings().RunAsService, 0);
    EXPECT_EQ(settings().languageFilePath, "");
    EXPECT_EQ(service.installs + service.uninstalls, 0);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(SettingsWindow, InstallingTheServiceTellsTheOutcome) {
    auto window = open();
    box(*window, "chkService")->click();
    ok(*window);
    EXPECT_EQ(service.installs, 1);
    EXPECT_EQ(service.uninstalls, 0);
    ASSERT_EQ(tc.host.boxes.size(), 1u);
    EXPECT_EQ(tc.host.boxes[0].text, "Kestrel service service installed!");
    EXPECT_EQ(tc.host.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(settings().RunAsService, 1);
    EXPECT_EQ(stored("RunAsService"), "1");
}

TEST_F(SettingsWindow, AFailedInstallLeavesTheServiceOff) {
    service.succeeds = false;
    auto window = open();
    box(*window, "chkService")->click();
    ok(*window);
    EXPECT_EQ(service.installs, 1);
    ASSERT_EQ(tc.host.boxes.size(), 1u);
    EXPECT_EQ(tc.host.boxes[0].text, "Kestrel service failed to install!");
    EXPECT_EQ(tc.host.boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(settings().RunAsService, 0);
    EXPECT_EQ(stored("RunAsService"), "0");
}

TEST_F(SettingsWindow, AFailedUninstallLeavesTheServiceOn) {
    settings().RunAsService = 1;
    ASSERT_TRUE(settings().saveGeneral("RunAsService", "1"));
    service.succeeds = false;
    auto window = open();
    box(*window, "chkService")->click();
    ok(*window);
    EXPECT_EQ(service.uninstalls, 1);
    EXPECT_EQ(service.installs, 0);
    ASSERT_EQ(tc.host.boxes.size(), 1u);
    EXPECT_EQ(tc.host.boxes[0].text, "Kestrel service failed to uninstall!");
    EXPECT_EQ(tc.host.boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(settings().RunAsService, 1);
    EXPECT_EQ(stored("RunAsService"), "1");
}

TEST_F(SettingsWindow, UninstallingTheServiceTellsTheOutcome) {
    settings().RunAsService = 1;
    auto window = open();
    box(*window, "chkService")->click();
    ok(*window);
    EXPECT_EQ(service.uninstalls, 1);
    ASSERT_EQ(tc.host.boxes.size(), 1u);
    EXPECT_EQ(tc.host.boxes[0].text, "Kestrel service uninstalled!");
    EXPECT_EQ(tc.host.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(settings().RunAsService, 0);
    EXPECT_EQ(stored("RunAsService"), "0");
}

TEST_F(SettingsWindow, WithoutServiceSupportTheBoxIsDisabledAndTheFlagKept) {
    settings().RunAsService = 1;
    service.present = false;
    auto window = open();
    EXPECT_FALSE(box(*window, "chkService")->isEnabled());
    EXPECT_TRUE(box(*window, "chkService")->isChecked());
    ok(*window);
    EXPECT_EQ(service.installs + service.uninstalls, 0);
    EXPECT_TRUE(tc.host.boxes.empty());
    EXPECT_EQ(settings().RunAsService, 1);

    frmSettings none(*tc.ctx, ServiceCommands{});
    EXPECT_FALSE(box(none, "chkService")->isEnabled());
}

TEST_F(SettingsWindow, CatchUpRoundTrip) {
    ASSERT_TRUE(settings().saveGeneral("CatchUpMissedRuns", "1"));
    {
        auto window = open();
        EXPECT_TRUE(box(*window, "chkCatchUp")->isChecked());
        box(*window, "chkCatchUp")->click();
        ok(*window);
    }
    EXPECT_EQ(stored("CatchUpMissedRuns"), "0");
    {
        auto window = open();
        EXPECT_FALSE(box(*window, "chkCatchUp")->isChecked());
        box(*window, "chkCatchUp")->click();
        ok(*window);
    }
    EXPECT_EQ(stored("CatchUpMissedRuns"), "1");
    auto window = open();
    EXPECT_TRUE(box(*window, "chkCatchUp")->isChecked());
}

}  // namespace
}  // namespace kestrel::ui
