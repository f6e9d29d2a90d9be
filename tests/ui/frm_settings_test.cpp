// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_settings.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>

#include "platform/autostart.h"
#include "platform/fs.h"
#include "support/process_state.h"
#include "support/temp_dir.h"
#include "support/test_context.h"

namespace kestrel::ui {
namespace {

class SettingsWindow : public ::testing::Test {
protected:
    Settings& settings() { return tc.ctx->settings; }
    std::string stored(const char* name) { return settings().general(name, "(absent)"); }
    // A service whose answers the test sets and whose calls it counts.
    std::unique_ptr<frmSettings> open() {
        ServiceCommands service;
        service.available = [] { return true; };
        service.install = [this] {
            ++installs;
            return succeeds;
        };
        service.uninstall = [this] {
            ++uninstalls;
            return succeeds;
        };
        auto window = std::make_unique<frmSettings>(*tc.ctx, service);
        window->show();
        return window;
    }
    static QCheckBox* box(frmSettings& w, const char* name) {
        return w.findChild<QCheckBox*>(name);
    }
    static void ok(frmSettings& w) { w.findChild<QPushButton*>("uxGraphicButton1")->click(); }
    static void clickAll(frmSettings& w, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            box(w, name)->click();
        }
    }

    test::TempDir config;
    // OK writes the autostart entry where the box shows it: never the user's own.
    test::ScopedEnv configHome{"XDG_CONFIG_HOME", config.path()};
    test::TestContext tc;
    bool succeeds = true;
    int installs = 0;
    int uninstalls = 0;
};

TEST_F(SettingsWindow, ShowsTheStoredFlagsAndOkStoresEachOne) {
    settings().blockSchedule = false;
    ASSERT_TRUE(settings().saveGeneral("HideWindowOnStart", "1"));
    ASSERT_TRUE(settings().saveGeneral("CatchUpMissedRuns", "1"));
    auto w = open();
    EXPECT_FALSE(box(*w, "Check1")->isChecked());
    EXPECT_TRUE(box(*w, "chkHide")->isChecked());
    EXPECT_TRUE(box(*w, "chkCatchUp")->isChecked());
    clickAll(*w, {"Check1", "chkHide", "chkCatchUp"});
    ok(*w);
    EXPECT_EQ(w->result(), QDialog::Accepted);
    EXPECT_TRUE(settings().blockSchedule);
    EXPECT_EQ(stored("blockSchedule"), "1");
    EXPECT_EQ(stored("HideWindowOnStart"), "0");
    EXPECT_EQ(stored("CatchUpMissedRuns"), "0");
    EXPECT_EQ(stored("RunAsService"), "0");

    // And back again.
    w = open();
    clickAll(*w, {"Check1", "chkHide", "chkCatchUp"});
    ok(*w);
    EXPECT_FALSE(settings().blockSchedule) << "scheduled runs may start at once";
    EXPECT_EQ(stored("HideWindowOnStart"), "1");
    EXPECT_EQ(stored("CatchUpMissedRuns"), "1");
    EXPECT_EQ(installs + uninstalls, 0) << "the service was not touched";
}

TEST_F(SettingsWindow, CancelChangesNothing) {
    ASSERT_TRUE(settings().saveGeneral("HideWindowOnStart", "1"));
    const std::string before = test::readAll(tc.dir.file("settings.ini"));
    auto w = open();
    clickAll(*w, {"Check1", "chkHide", "chkService", "chkCatchUp"});
    w->findChild<QPushButton*>("uxGraphicButton2")->click();
    EXPECT_EQ(w->result(), QDialog::Rejected);
    EXPECT_EQ(test::readAll(tc.dir.file("settings.ini")), before);
    EXPECT_TRUE(settings().blockSchedule);
    EXPECT_EQ(settings().RunAsService, 0);
    EXPECT_EQ(installs + uninstalls, 0);
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
        succeeds = c.succeeds;
        installs = uninstalls = 0;
        tc.host.boxes.clear();
        auto w = open();
        EXPECT_EQ(box(*w, "chkService")->isChecked(), c.before == 1);
        box(*w, "chkService")->click();
        ok(*w);
        EXPECT_EQ(installs, c.before == 0 ? 1 : 0);
        EXPECT_EQ(uninstalls, c.before == 1 ? 1 : 0);
        ASSERT_EQ(tc.host.boxes.size(), 1u);
        EXPECT_EQ(tc.host.boxes[0].text, c.told);
        EXPECT_EQ(tc.host.boxes[0].icon, c.icon);
        EXPECT_EQ(settings().RunAsService, c.after);
        EXPECT_EQ(stored("RunAsService"), std::to_string(c.after));
    }
}

// The box is the desktop's autostart entry: written when ticked, removed when not; it shows
// whether the desktop starts the program.
TEST_F(SettingsWindow, TheAutostartBoxWritesAndRemovesTheDesktopEntry) {
    const std::string entry = config.file("autostart/kestrel.desktop");
    auto w = open();
    EXPECT_FALSE(box(*w, "chkAutostart")->isChecked());
    box(*w, "chkAutostart")->click();
    ok(*w);
    const std::string text = test::readAll(entry);
    EXPECT_NE(text.find("\nExec=" + fs::executablePath() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nComment=Runs the scheduled backups"), std::string::npos) << text;
    EXPECT_TRUE(box(*open(), "chkAutostart")->isChecked());
    // Switched off by the desktop's own settings: not ticked, and OK removes it.
    config.write("autostart/kestrel.desktop", text + "Hidden=true\n");
    w = open();
    EXPECT_FALSE(box(*w, "chkAutostart")->isChecked());
    ok(*w);
    EXPECT_FALSE(fs::exists(entry));

    // The program's path as one argument that the desktop reads back as it is.
    const std::pair<std::string, std::string> paths[] = {
        {"/usr/bin/kestrel", "/usr/bin/kestrel"},
        {"/opt/my apps/kestrel", "\"/opt/my apps/kestrel\""},
        {"/opt/100%/kestrel", "/opt/100%%/kestrel"},
        {"/opt/a\"b$c\\/kestrel", "\"/opt/a\\\\\"b\\\\$c\\\\\\\\/kestrel\""},
    };
    for (const auto& [path, exec] : paths) {
        const std::string written = autostartEntryText(path, "line\nbreak");
        EXPECT_NE(written.find("\nComment=line\\nbreak\nExec=" + exec + "\n"), std::string::npos)
            << written;
    }
}

}  // namespace
}  // namespace kestrel::ui
