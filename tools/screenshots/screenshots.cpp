// SPDX-License-Identifier: GPL-3.0-or-later
// Renders every window offscreen to PNG, in English and German, over a sample set of jobs in
// every status, so that layouts can be looked at without a desktop. Every text a window shows
// in English is compared with its German rendering: one left in English fails the run.
// Usage: screenshots OUTPUT_FOLDER
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "core/app_context.h"
#include "core/language_file.h"
#include "foldertree/ctl_file_browser.h"
#include "platform/clock.h"
#include "runner/job_runner.h"
#include "support/fake_ftp_client.h"
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
#include "ui/progress.h"
#include "ui/qt_host.h"
#include "ui/restore_model.h"
#include "ui_frm_browse_ftp.h"
#include "ui_frm_browse_restore_list.h"

using namespace kestrel;

namespace {

// A fixed moment, so that the next-run texts are the same on every run.
class FixedClock final : public Clock {
public:
    DateTime now() override { return *DateTime::fromParts(2026, 12, 7, 9, 30); }
    std::uint64_t tickMs() override { return m_ms; }
    void advanceMs(std::uint64_t ms) { m_ms += ms; }

private:
    std::uint64_t m_ms = 0;
};

std::shared_ptr<clsSchedule> schedule(std::uint8_t tip, std::uint8_t data, int hour, int minute) {
    auto s = std::make_shared<clsSchedule>();
    s->Tip = tip;
    s->Data = data;
    s->enabled = true;
    s->start = *DateTime::fromParts(2026, 1, 1);
    s->StartHour = DateTime::fromSerialSeconds(hour * 3600 + minute * 60);
    return s;
}

void addSamples(JobRunner& runner, const std::string& source, const std::string& dest) {
    struct Sample {
        const char* name;
        bool archived, zipped, incremental, ftp;
        std::int32_t status;
        std::shared_ptr<clsSchedule> plan;
    };
    const Sample samples[] = {
        {"Documents", true, true, true, false, kStatusOk, schedule(kScheduleDaily, 0x7f, 22, 0)},
        {"Photos", true, false, false, false, kStatusNeverRun, nullptr},
        {"Web site", true, true, false, true, kStatusFailed, schedule(kScheduleHourly, 15, 0, 0)},
        {"Projects", false, false, true, false, kStatusAborted,
         schedule(kScheduleMonthly, 31, 23, 30)},
        {"Mail archive", true, true, true, true, kStatusOk, schedule(kScheduleDaily, 64 + 4, 8, 0)},
    };
    for (const Sample& s : samples) {
        auto job = std::make_unique<clsBackup>();
        job->sName = s.name;
        job->archived = s.archived;
        job->bZipped = s.zipped;
        job->bIncremental = s.incremental;
        job->IncludeMask = "*.*";
        job->sDestinationDir = dest + "/" + s.name;
        std::filesystem::create_directories(job->sDestinationDir);
        job->AddFile(std::make_unique<clsBackupFile>(clsBackupFile{source, kSourceFolder, 0, 0}));
        if (s.ftp) {
            job->destFTP = true;
            job->objDestination = std::make_shared<clsKestrel>();
            job->objDestination->hostname = "backup.example.org";
            job->objDestination->username = "kestrel";
            job->sDestinationDir = std::string("/backups/") + s.name;
        }
        job->Schedule = s.plan;
        (void)runner.addJob(std::move(job));
    }
    // Outcomes as runs would have left them.
    Jobs jobs = runner.jobs();
    for (const Sample& s : samples) {
        if (clsBackup* job = jobs.find(s.name)) {
            job->enumStatus = s.status;
            if (s.status == kStatusOk)
                job->lastOK = *DateTime::fromParts(2026, 12, 6, 22, 0);
        }
    }
}

// An FTP server with a few folders, for the remote folder browser.
// The remote folders the browser shows.
void fillSampleServer(test::FakeRemote& remote) {
    for (const char* folder : {"/backups/daily/2026-12-05", "/backups/daily/2026-12-06",
                               "/backups/monthly", "/backups/weekly", "/incoming", "/www"}) {
        remote.makeFolder(folder);
    }
    for (const char* file :
         {"/readme.txt", "/backups/Documents.fs", "/backups/daily/Documents.uxarc",
          "/backups/daily/Documents-001.uxarc"}) {
        remote.put(file, "");
    }
}

// The texts of each rendered picture by control, for English and German: picture name ->
// control -> text.
using Texts = std::map<QString, std::map<QString, QString>>;
Texts& shownTexts() {
    static Texts texts;
    return texts;
}

// What a user reads in a window: captions, tips, headers, list choices, menus.
void recordTexts(QWidget& window, const QString& picture) {
    std::map<QString, QString>& out = shownTexts()[picture];
    int unnamed = 0;
    auto add = [&out](const QString& key, const QString& text) {
        if (!text.trimmed().isEmpty())
            out[key] = text;
    };
    add("title", window.windowTitle());
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window))
            continue;
        const QString name = w->objectName().isEmpty() ? QString(w->metaObject()->className()) +
                                                             QString::number(unnamed++)
                                                       : w->objectName();
        add(name + ".tip", w->toolTip());
        if (auto* label = qobject_cast<QLabel*>(w))
            add(name, label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            add(name, button->text());
        if (auto* group = qobject_cast<QGroupBox*>(w))
            add(name, group->title());
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            add(name + ".hint", edit->placeholderText());
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < tabs->count(); ++i)
                add(name + "|" + QString::number(i), tabs->tabText(i));
        }
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                add(name + "#" + QString::number(i), combo->itemText(i));
        }
        if (auto* header = qobject_cast<QHeaderView*>(w); header && header->model()) {
            for (int i = 0; i < header->count(); ++i) {
                add(w->parent()->objectName() + "|" + QString::number(i),
                    header->model()->headerData(i, header->orientation()).toString());
            }
        }
    }
    for (QAction* action : window.findChildren<QAction*>()) {
        if (!action->objectName().isEmpty()) {
            add(action->objectName(), action->text());
            add(action->objectName() + ".tip", action->toolTip());
        }
    }
    for (QMenu* menu : window.findChildren<QMenu*>())
        add(menu->objectName(), menu->title());
}

// Texts that read the same in both languages, and what only shows the user's own data (paths,
// numbers, job and file names of the samples).
bool sameInGerman(const QString& text) {
    static const QStringList kSame = {
        "Kestrel", "OK",     "FTP",   "Port:",  "Port",    "Server",    "Status",  "Name",
        "Name:",   "Pause",  "Start", "Hilfe",  "Info",    "Passwort:", "ftp",     "Details",
        "Log",     "Online", "Test",  "Archiv", "Version", "Host:",     "Host",    "Details:",
        "Tag",     "...",    "Text",  "Index",  "*.*",     "English",   "Deutsch",  // each language
                                                                                    // names itself
    };
    static const QRegularExpression data(
        "^([-0-9.,:%/ ]+( ?(Kb|Mb|Gb|bytes|Bytes))?|.*/.*|\\S+\\.(txt|odt|fs|uxarc)|"
        "Documents|Photos|Web site|Projects|Mail archive|Daily|Reports|2026|kestrel|"
        "backup\\.example\\.org|[A-Z]:?|&?[A-Z]|(Kestrel|Version|Revision) [0-9.]+)$");
    return kSame.contains(text.trimmed()) || data.match(text.trimmed()).hasMatch();
}

// Every text of a picture whose German rendering still reads as the English one.
int untranslatedTexts() {
    int found = 0;
    const Texts& texts = shownTexts();
    for (const auto& [picture, english] : texts) {
        if (!picture.endsWith("-english"))
            continue;
        const QString german = picture.chopped(8) + "-german";
        const auto other = texts.find(german);
        if (other == texts.end()) {
            std::printf("UNTRANSLATED %s: no German rendering\n", qPrintable(picture));
            ++found;
            continue;
        }
        for (const auto& [control, text] : english) {
            const auto it = other->second.find(control);
            if (it != other->second.end() && it->second == text && !sameInGerman(text)) {
                std::printf("UNTRANSLATED %s %s: \"%s\"\n", qPrintable(german), qPrintable(control),
                            qPrintable(text));
                ++found;
            }
        }
    }
    return found;
}

bool save(QWidget& window, const QString& path) {
    QCoreApplication::processEvents();
    recordTexts(window, QFileInfo(path).completeBaseName());
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// The browser over the sample server with two levels open and a folder chosen.
bool saveBrowser(AppContext& ctx, const LanguageFile& language, const QString& path) {
    test::FakeRemote remote;
    fillSampleServer(remote);
    ui::frmBrowseFTP browser(ctx, language, nullptr, test::fakeFtpFactory(remote));
    if (browser.Start({"backup.example.org", 21, "kestrel", "", true, false, ""}) !=
        ui::frmBrowseFTP::StartResult::Ok)
        return false;
    browser.show();
    QTreeWidget& tree = *browser.form().TreeView1;
    const std::string root = "backup.example.org/";
    tree.expandItem(browser.node(root + "/backups"));
    QTreeWidgetItem* daily = browser.node(root + "/backups/daily");
    tree.expandItem(daily);
    tree.setCurrentItem(daily);
    emit tree.itemClicked(daily, 0);
    browser.form().Text1->setText("Photos");
    const bool ok = save(browser, path);
    browser.reject();
    return ok;
}

// The restore browser over a real catalogue, in each of its four views: a folder of the
// session shown, part of it checked.
bool saveRestoreBrowser(AppContext& ctx, JobRunner& runner, const LanguageFile& language,
                        const std::string& source, const QString& prefix, const QString& suffix) {
    RestoreState state;
    if (runner.openRestore("Daily", state) != RunnerResult::Done)
        return false;
    ui::frmBrowseRestoreList browser(ctx, runner, state, language, ui::RestoreSeams{});
    browser.resize(820, 480);
    browser.show();
    std::string key = state.tree.node(state.tree.sessions().front()).key;
    key += '|';
    key += source;
    const int folder = state.tree.find(key);
    std::string reports = key;
    reports += "/Reports";
    browser.model().setChecked(state.tree.find(reports), true);
    browser.form().tvTreeView->expandAll();
    browser.showNode(folder);
    bool ok = true;
    static const char* const kViews[] = {"icons", "smallicons", "list", "report"};
    for (int view = 0; view < 4; ++view) {
        browser.setView(static_cast<ui::frmBrowseRestoreList::View>(view));
        ok &= save(browser, prefix + "-" + kViews[view] + suffix);
    }
    browser.reject();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() /
        ("kestrel-screenshots-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(scratch / "source/Reports/2026");
    std::filesystem::create_directories(scratch / "source/Photos");
    for (const char* name :
         {"notes.txt", "Reports/summary.odt", "Reports/2026/q1.odt", "Reports/2026/q2.odt"}) {
        std::FILE* f = std::fopen((scratch / "source" / name).c_str(), "w");
        if (f != nullptr) {
            std::fputs("sample", f);
            std::fclose(f);
        }
    }

    FixedClock clock;
    ui::QtHost host;
    AppContext ctx(ProgramFolder((scratch / "home").string(), {KESTREL_ASSET_ROOT}), clock, host);
    if (!ctx.initialise())
        return 1;
    JobRunner runner(ctx);
    (void)runner.LoadJobs();
    addSamples(runner, (scratch / "source").string(), (scratch / "dest").string());

    // A program folder of its own with one real backup, for the restore browser.
    AppContext restoreCtx(ProgramFolder((scratch / "restore-home").string(), {KESTREL_ASSET_ROOT}),
                          clock, host);
    if (!restoreCtx.initialise())
        return 1;
    JobRunner restoreRunner(restoreCtx);
    (void)restoreRunner.LoadJobs();
    {
        auto job = std::make_unique<clsBackup>();
        job->sName = "Daily";
        job->archived = true;
        job->IncludeMask = "*.*";
        job->sDestinationDir = (scratch / "restore-dest").string();
        std::filesystem::create_directories(job->sDestinationDir);
        job->AddFile(std::make_unique<clsBackupFile>(
            clsBackupFile{(scratch / "source").string(), kSourceFolder, 0, 0}));
        (void)restoreRunner.addJob(std::move(job));
        if (restoreRunner.RunBackup("Daily") != RunnerResult::Done)
            return 1;
    }

    bool ok = true;
    ui::QtLanguage qtLanguage;
    ui::QtHost::Views views;
    views.showLog = [] {};
    views.message = [&ctx](std::string_view key) { return ctx.msg(key); };
    host.setViews(views);
    host.setAskWithoutWindow(true);
    for (const char* language : {"english", "german"}) {
        const LanguageFile file(findLanguageFile(ctx.paths, language));
        ctx.settings.languageFilePath = findLanguageFile(ctx.paths, language);
        ctx.messages.FillMessages(ctx.settings.languageFilePath);
        if (!qtLanguage.use(ctx.msg("strMsgLocale"))) {
            std::printf("FAILED: no Qt translations for %s\n", language);
            ok = false;
        }
        const QString suffix = QString("-") + language + ".png";

        // The windows the commands open are there, as in the program: no command reads "not
        // yet available".
        ui::MainSeams mainSeams;
        mainSeams.openEditor = [](const std::string&, int) {};
        mainSeams.openRestoreBrowser = [](const std::string&) {};
        mainSeams.openSettings = [] {};
        mainSeams.openAbout = [] {};
        ui::frmMain main(
            ctx, runner, [&]() -> const LanguageFile& { return file; }, mainSeams);
        main.applyStyle(1);
        main.resize(860, 400);
        main.show();
        main.addLogLine("[2026 Dec 07 09:30:00]-" + ctx.msg("strMsgProgramStarted"));
        main.setStatusText(2, ctx.msg("strMsgProgramStarted"));
        main.flushPending();
        main.UpdateForm();
        main.selectJob("Documents");
        ok &= save(main, out + "/frmMain" + suffix);
        main.toggleLog();
        ok &= save(main, out + "/frmMain-log" + suffix);
        main.applyStyle(0);
        ok &= save(main, out + "/frmMain-style0" + suffix);

        ui::mdlProgress progress(
            ctx.flags, ctx.messages, [&]() -> const LanguageFile& { return file; },
            [] { return true; }, [&] { return clock.tickMs(); }, [](double, const std::string&) {});
        progress.ShowProgress(ctx.msg("strMsgBackupProgress"));
        // A plain copy, which can skip the file at work.
        progress.setFileCancellable(true);
        // A run some way in: 40 files over two minutes, so that rate and time left show.
        for (int i = 1; i <= 40; ++i) {
            clock.advanceMs(3000);
            progress.UpdateProgress(
                ctx.msg("strMsgCopyToDest"),
                "/home/user/Documents/Reports/2026/Quarterly report " + std::to_string(i) + ".odt",
                62.5, i * 41.25 / 40);
        }
        if (auto* window = progress.window())
            ok &= save(*window, out + "/frmBackupProgress" + suffix);

        ui::frmPassword password(file);
        password.show();
        ok &= save(password, out + "/frmPassword" + suffix);
        ui::frmSplash splash(file);
        splash.show();
        ok &= save(splash, out + "/frmSplash" + suffix);
        ui::frmAbout about(file, [&] {
            return ui::gatherSystemFacts(ctx.paths.home(), ctx.paths.path("logs/kestrel.log"),
                                         ui::defaultOsReleasePaths());
        });
        about.show();
        ok &= save(about, out + "/frmAbout" + suffix);
        ui::ServiceCommands service;
        service.available = [] { return true; };
        ui::frmSettings settings(ctx, service);
        settings.show();
        ok &= save(settings, out + "/frmSettings" + suffix);
        ok &= saveBrowser(ctx, file, out + "/frmBrowseFTP" + suffix);
        restoreCtx.messages.FillMessages(ctx.settings.languageFilePath);
        ok &= saveRestoreBrowser(restoreCtx, restoreRunner, file, (scratch / "source").string(),
                                 out + "/frmBrowseRestoreList", suffix);

        // The editor over the sample tree: a job's four pages, then an FTP job's destination.
        ui::EditorSeams seams;
        seams.drives = QStringList{QString::fromStdString((scratch / "source").string())};
        static const char* const kPages[] = {"backup", "settings", "destination", "schedule"};
        {
            ui::frmEditBackup editor(ctx, runner, file, seams);
            editor.resize(760, 560);
            editor.loadJob(*runner.job("Documents"));
            editor.show();
            for (int page = 0; page < 4; ++page) {
                editor.showPage(page);
                ok &= save(editor, out + "/frmEditBackup-" + kPages[page] + suffix);
            }
        }
        {
            ui::frmEditBackup editor(ctx, runner, file, seams);
            editor.resize(760, 560);
            editor.loadJob(*runner.job("Mail archive"));
            editor.show();
            editor.showPage(2);
            ok &= save(editor, out + "/frmEditBackup-ftp" + suffix);
            editor.showPage(1);
            ok &= save(editor, out + "/frmEditBackup-ftp-settings" + suffix);
        }

        // The boxes, with Qt's own buttons and ours, and Qt's folder dialog.
        auto whenShown = [&](const QString& name) {
            QTimer::singleShot(0, [&, name] {
                if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                    ok &= save(*box, out + "/" + name + suffix);
                    box->reject();
                }
            });
        };
        whenShown("boxQuestion");
        (void)host.messageBox(ctx.msg("strMsgQuitAsk"), MsgIcon::Question, MsgButtons::YesNoCancel,
                              MsgAnswer::Cancel);
        whenShown("boxFailure");
        host.failureBox(ctx.messages.format("strMsgBackupFailed", {{"%d", "Photos"}}),
                        ctx.messages.format("strMsgFileCopyFail", {{"%s", "/home/user/a.odt"},
                                                                   {"%d", "/media/backup/a.odt"}}));
        whenShown("boxChoice");
        (void)host.choiceBox(ctx.msg("strMsgRFToOrigQ"),
                             {ctx.msg("strMsgRestoreToOriginal"), ctx.msg("strMsgRestoreElsewhere"),
                              ctx.msg("strMsgCancel")},
                             2);
        QFileDialog folders(nullptr, QString::fromStdString(ctx.msg("strMsgSelectFolderToBackup")),
                            QString::fromStdString((scratch / "source").string()));
        folders.setOption(QFileDialog::DontUseNativeDialog);
        folders.setFileMode(QFileDialog::Directory);
        folders.show();
        ok &= save(folders, out + "/fileDialog" + suffix);
    }
    std::filesystem::remove_all(scratch);
    const int untranslated = untranslatedTexts();
    if (untranslated > 0)
        std::printf("FAILED: %d texts stay English in German\n", untranslated);
    return ok && untranslated == 0 ? 0 : 1;
}
