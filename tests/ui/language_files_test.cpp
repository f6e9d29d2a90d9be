// Captions: how a language file captions a window's controls, and that every caption key of the
// shipped language files names a window and a control that exist, so a typo fails here instead
// of leaving a caption in English.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
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

TEST(ApplyLanguage, CaptionsEveryKindOfControlByNameIndexColumnButtonAndTab) {
    QWidget window;
    window.setObjectName("frmTest");
    window.setWindowTitle("Designed");
    auto* single = new QLabel("single", &window);
    single->setObjectName("Label1");
    auto* member = new QLabel("member", &window);
    member->setObjectName("Label2");
    setControlIndex(*member, 2);
    auto* frame = new QGroupBox("frame", &window);
    frame->setObjectName("Frame1");
    auto* check = new QCheckBox("check", &window);
    check->setObjectName("Check1");
    auto* list = new QTreeWidget(&window);
    list->setObjectName("ListView1");
    list->setHeaderLabels({"a", "b", "c"});
    auto* toolbar = new QToolBar(&window);
    toolbar->setObjectName("Toolbar1");
    QAction* first = toolbar->addAction("first");
    first->setObjectName("keyFirst");
    toolbar->addSeparator();
    QAction* third = toolbar->addAction("third");
    auto* drop = new QMenu(&window);
    QAction* dropItem = drop->addAction("item");
    third->setMenu(drop);
    auto* menu = new QMenu("menu", &window);
    menu->setObjectName("mnuList");
    QAction* item = menu->addAction("item");
    item->setObjectName("mniEdit");
    auto* tabs = new QTabWidget(&window);
    tabs->setObjectName("SSTab1");
    tabs->addTab(new QWidget, "t0");
    tabs->addTab(new QWidget, "t1");

    const LanguageFile lng = LanguageFile::parse(
        "[frmTest]\nCaption=Title\nLabel1=Eins\nLabel2|2=Zwei\n"
        "Label2=wrong\nFrame1=Rahmen\nCheck1=\nListView1|2=Typ\n"
        "Toolbar1|1=Erster\nToolbar1|3=Dritter\n"
        "Toolbar1|3|1=Eintrag\nmnuList=Liste\nmniEdit=Ändern\n"
        "SSTab1|1=Reiter\n[other]\nLabel1=no\n");
    ApplyLanguage(window, lng);
    EXPECT_EQ(window.windowTitle(), "Title");
    EXPECT_EQ(single->text(), "Eins");
    EXPECT_EQ(member->text(), "Zwei") << "an array member answers to name|index only";
    EXPECT_EQ(frame->title(), "Rahmen");
    EXPECT_EQ(check->text(), "check") << "an empty value keeps the designed caption";
    EXPECT_EQ(list->headerItem()->text(0), "a");
    EXPECT_EQ(list->headerItem()->text(1), "Typ");
    EXPECT_EQ(first->text(), "Erster");
    EXPECT_EQ(third->text(), "Dritter") << "the separator counts as a button";
    EXPECT_EQ(dropItem->text(), "Eintrag");
    EXPECT_EQ(menu->title(), "Liste");
    EXPECT_EQ(item->text(), QString::fromUtf8("Ändern"));
    EXPECT_EQ(tabs->tabText(0), "t0");
    EXPECT_EQ(tabs->tabText(1), "Reiter");

    const auto keys = captionKeys(window);
    for (const char* key : {"Caption", "Label1", "Label2|2", "ListView1|3", "Toolbar1|1",
                            "Toolbar1|3|1", "SSTab1|0", "mniEdit", "mnuList"}) {
        EXPECT_TRUE(keys.count(key)) << key;
    }
    EXPECT_FALSE(keys.count("Label2"));
    EXPECT_FALSE(keys.count("Toolbar1|2")) << "a separator has no caption";
    EXPECT_FALSE(keys.count("keyFirst")) << "toolbar buttons are captioned through the toolbar";
}

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
