// Every caption key of the shipped language files names a window and a control that exist.
#include <gtest/gtest.h>

#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "core/language_file.h"
#include "platform/ini_file.h"
#include "restore/restore.h"
#include "support/test_context.h"
#include "ui/frm_about.h"
#include "ui/frm_backup_progress.h"
#include "ui/frm_browse_ftp.h"
#include "ui/frm_browse_restore_list.h"
#include "ui/frm_edit_backup.h"
#include "ui/frm_main.h"
#include "ui/frm_password.h"
#include "ui/frm_settings.h"
#include "ui/frm_splash.h"
#include "ui/language.h"

namespace kestrel::ui {
namespace {

class LanguageFilesTest : public ::testing::Test {
protected:
    test::TestContext t;
    JobRunner runner{*t.ctx};
    LanguageFile none;
    RestoreState restoreState;

    // Every window, as the program builds it.
    std::map<std::string, std::function<std::unique_ptr<QWidget>()>> windows() {
        return {
            {"frmMain",
             [this] {
                 return std::make_unique<frmMain>(
                     *t.ctx, runner, [this]() -> const LanguageFile& { return none; }, MainSeams{});
             }},
            {"frmBackupProgress", [] { return std::make_unique<frmBackupProgress>(); }},
            {"frmPassword", [this] { return std::make_unique<frmPassword>(none); }},
            {"frmSplash", [this] { return std::make_unique<frmSplash>(none); }},
            {"frmAbout", [this] { return std::make_unique<frmAbout>(none, nullptr); }},
            {"frmSettings",
             [this] { return std::make_unique<frmSettings>(*t.ctx, ServiceCommands{}); }},
            {"frmBrowseFTP", [this] { return std::make_unique<frmBrowseFTP>(*t.ctx, none); }},
            {"frmBrowseRestoreList",
             [this] {
                 return std::make_unique<frmBrowseRestoreList>(*t.ctx, runner, restoreState, none,
                                                               RestoreSeams{});
             }},
            {"frmEditBackup",
             [this] {
                 return std::make_unique<frmEditBackup>(*t.ctx, runner, none, EditorSeams{});
             }},
        };
    }
};

TEST_F(LanguageFilesTest, EveryCaptionKeyNamesAWindowAndOneOfItsControls) {
    auto build = windows();
    for (const char* file : {"english.lng", "german.lng"}) {
        IniFile ini;
        ASSERT_EQ(ini.load(test::sourceLanguagesDir() + "/" + file), IniFile::LoadResult::Loaded)
            << file;
        int sections = 0;
        for (const std::string& section : ini.sectionNames()) {
            if (section == "msgStrings")
                continue;
            ++sections;
            auto maker = build.find(section);
            ASSERT_NE(maker, build.end()) << file << ": no window " << section;
            auto window = maker->second();
            EXPECT_EQ(window->objectName().toStdString(), section);
            const auto keys = captionKeys(*window);
            const auto lines = ini.sectionLines(section);
            ASSERT_TRUE(lines.has_value());
            for (const std::string& line : *lines) {
                const std::string key = line.substr(0, line.find('='));
                EXPECT_TRUE(keys.count(key)) << file << ": [" << section << "] " << key;
            }
        }
        EXPECT_EQ(sections, static_cast<int>(build.size())) << file << " captions every window";
    }
}

}  // namespace
}  // namespace kestrel::ui
