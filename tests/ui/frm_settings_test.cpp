#include "ui/frm_settings.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
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

TEST_F(SettingsWindow, ListsEveryLanguageAndSelectsTheStoredOneWithoutCase) {
    settings().languageFilePath = germanPath;
    auto window = open();
    EXPECT_EQ(window->windowTitle(), "Programmeinstellungen") << "captioned in its language";
    EXPECT_EQ(box(*window, "chkHide")->text(), "Fenster beim Start ausblenden");
    EXPECT_EQ(box(*window, "Check1")->text(), "when main window is open") << "absent key";
    QStringList items;
    for (int i = 0; i < languages(*window)->count(); ++i) {
        items << languages(*window)->itemText(i);
    }
    items.sort();
    EXPECT_EQ(items, QStringList({"English", "German"}));
    EXPECT_EQ(languages(*window)->currentText(), "English") << "nothing stored";
    const std::pair<const char*, const char*> selections[] = {{"ENGLISH", "English"},
                                                              {"klingon", ""}};
    for (const auto& [name, selected] : selections) {
        ASSERT_TRUE(settings().saveGeneral("Language", name));
        EXPECT_EQ(languages(*open())->currentText().toStdString(), selected) << name;
    }
    // An unknown language selects nothing, and OK stores nothing for it.
    auto unknown = open();
    ok(*unknown);
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

TEST_F(SettingsWindow, ShowsTheStoredFlagsAndOkStoresEachOne) {
    settings().blockSchedule = false;
    ASSERT_TRUE(settings().saveGeneral("HideWindowOnStart", "1"));
    ASSERT_TRUE(settings().saveGeneral("CatchUpMissedRuns", "1"));
    auto window = open();
    EXPECT_FALSE(box(*window, "Check1")->isChecked());
    EXPECT_TRUE(box(*window, "chkHide")->isChecked());
    EXPECT_TRUE(box(*window, "chkCatchUp")->isChecked());
    EXPECT_FALSE(box(*window, "chkService")->isChecked());
    for (const char* name : {"Check1", "chkHide", "chkCatchUp"}) {
        box(*window, name)->click();
    }
    ok(*window);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_TRUE(settings().blockSchedule);
    EXPECT_EQ(stored("blockSchedule"), "1");
    EXPECT_EQ(stored("HideWindowOnStart"), "0");
    EXPECT_EQ(stored("CatchUpMissedRuns"), "0");
    EXPECT_EQ(stored("RunAsService"), "0");

    // And back again, with the language switched.
    window = open();
    QSignalSpy changed(window.get(), &frmSettings::languageChanged);
    for (const char* name : {"Check1", "chkHide", "chkCatchUp"}) {
        box(*window, name)->click();
    }
    languages(*window)->setCurrentIndex(languages(*window)->findText("German"));
    ok(*window);
    EXPECT_FALSE(settings().blockSchedule) << "scheduled runs may start at once";
    EXPECT_EQ(stored("HideWindowOnStart"), "1");
    EXPECT_EQ(stored("CatchUpMissedRuns"), "1");
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

// The service box installs or uninstalls; the flag follows what the service manager did.
TEST_F(SettingsWindow, TheServiceBoxInstallsOrUninstallsAndTellsTheOutcome) {
    struct Case {
        int before;
        bool succeeds;
        const char* told;
        MsgIcon icon;
        int after;
    };
    const Case cases[] = {
        {0, true, "Kestrel service service installed!", MsgIcon::Information, 1},
        {0, false, "Kestrel service failed to install!", MsgIcon::Critical, 0},
        {1, true, "Kestrel service uninstalled!", MsgIcon::Information, 0},
        {1, false, "Kestrel service failed to uninstall!", MsgIcon::Critical, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.told);
        settings().RunAsService = c.before;
        ASSERT_TRUE(settings().saveGeneral("RunAsService", std::to_string(c.before)));
        service = FakeService{};
        service.succeeds = c.succeeds;
        tc.host.boxes.clear();
        auto window = open();
        EXPECT_EQ(box(*window, "chkService")->isChecked(), c.before == 1);
        box(*window, "chkService")->click();
        ok(*window);
        EXPECT_EQ(service.installs, c.before == 0 ? 1 : 0);
        EXPECT_EQ(service.uninstalls, c.before == 1 ? 1 : 0);
        ASSERT_EQ(tc.host.boxes.size(), 1u);
        EXPECT_EQ(tc.host.boxes[0].text, c.told);
        EXPECT_EQ(tc.host.boxes[0].icon, c.icon);
        EXPECT_EQ(settings().RunAsService, c.after);
        EXPECT_EQ(stored("RunAsService"), std::to_string(c.after));
    }
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

}  // namespace
}  // namespace kestrel::ui
