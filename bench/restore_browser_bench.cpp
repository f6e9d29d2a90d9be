// SPDX-License-Identifier: GPL-3.0-or-later
// The restore browser over a large catalogue: opening it (catalogue read, tree, model and the
// shown window), checking a whole session, and a search typed into it. The catalogue is written
// line by line as an archive run writes it, without running backups.
//
//   restore_browser_bench [--files N] [--dir FOLDER]      (N files in five sessions)
#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/format.h"
#include "bench_util.h"
#include "core/app_context.h"
#include "core/language_file.h"
#include "restore/restore.h"
#include "runner/job_runner.h"
#include "ui/frm_browse_restore_list.h"
#include "ui/restore_model.h"
#include "ui_frm_browse_restore_list.h"

using namespace kestrel;

namespace {

constexpr int kSessions = 5;
constexpr int kFilesPerFolder = 50;

// Five sessions, each with its share of the files in folders of kFilesPerFolder.
void writeCatalogue(const std::string& path, int files) {
    std::ofstream out(path, std::ios::binary);
    const int perSession = files / kSessions;
    for (int s = 0; s < kSessions; ++s) {
        const DateTime session = *DateTime::fromParts(2026, 1, 5 + s, 22, 0);
        std::string volume = "Bench";
        volume += session.format("yyyyMMddHHmm");
        std::int64_t offset = 0;
        for (int i = 0; i < perSession; ++i) {
            clsArchiveFileData f;
            std::string name = "/home/user/projects/p";
            name += std::to_string(i / 2000);
            name += "/folder";
            name += std::to_string(i / kFilesPerFolder);
            name += "/file";
            name += std::to_string(i);
            name += ".dat";
            f.sFileName = name;
            f.dSize = 1000 + (i * 7919) % 500'000;
            f.RecSize = ChooseRecSize(f.dSize);
            f.crc32 = std::string(4, '\0');
            f.sArchiveStart = volume;
            f.sArchiveEnd = volume;
            f.dStartOffset = offset;
            offset += ((f.dSize + f.RecSize - 1) / f.RecSize + 1) * f.RecSize;
            f.dEndOffset = offset;
            out << catalogueLine(session, f) << "\r\n";
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bench::Options o = bench::parseOptions(argc, argv, {100'000, 0, 0, ""});
    bench::Scratch scratch(o.dir);
    std::filesystem::create_directories(scratch.path() + "/dest");
    writeCatalogue(scratch.path() + "/dest/Bench.fs", o.files);

    SystemClock clock;
    NullHost host;
    AppContext ctx(ProgramFolder(scratch.path() + "/home", {}), clock, host);
    if (!ctx.initialise()) {
        std::printf("cannot make the program folder\n");
        return 1;
    }
    JobRunner runner(ctx);
    auto job = std::make_unique<clsBackup>();
    job->sName = "Bench";
    job->sDestinationDir = scratch.path() + "/dest";
    job->archived = true;
    job->IncludeMask = "*.*";
    job->AddFile(std::make_unique<clsBackupFile>(
        clsBackupFile{scratch.path() + "/dest", kSourceFolder, 0, 0}));
    if (runner.addJob(std::move(job)) != RunnerResult::Done) {
        std::printf("cannot add the job\n");
        return 1;
    }

    LanguageFile language;
    RestoreState state;
    std::unique_ptr<ui::frmBrowseRestoreList> window;
    bool loaded = false;
    const double load =
        bench::timed([&] { loaded = runner.openRestore("Bench", state) == RunnerResult::Done; });
    const double show = bench::timed([&] {
        window = std::make_unique<ui::frmBrowseRestoreList>(ctx, runner, state, language,
                                                            ui::RestoreSeams{});
        window->show();
        QCoreApplication::processEvents();
    });
    if (!loaded || state.records.size() != static_cast<size_t>(o.files)) {
        std::printf("catalogue failed\n");
        return 1;
    }
    std::printf("%-36s %8.3f s  (%zu records, %zu nodes)\n", "open: catalogue read, tree", load,
                state.records.size(), state.tree.size());
    std::printf("%-36s %8.3f s\n", "open: model and shown window", show);
    std::printf("%-36s %8.3f s  (target < 2 s)\n", "open in all", load + show);

    const int session = state.tree.sessions().front();
    window->showNode(session);
    const double check = bench::timed([&] {
        window->model().setChecked(session, true);
        QCoreApplication::processEvents();
    });
    std::printf("%-36s %8.3f s  (%lld files, target < 0.5 s)\n", "check a whole session", check,
                static_cast<long long>(window->model().checkedFiles()));
    const double uncheck = bench::timed([&] {
        window->model().setChecked(session, false);
        QCoreApplication::processEvents();
    });
    std::printf("%-36s %8.3f s\n", "uncheck it again", uncheck);

    double worst = 0;
    for (const char* typed : {"f", "fi", "file1", "file12", "file123", "file1234"}) {
        const double search = bench::timed([&] {
            window->form().txtSearch->setText(QString::fromLatin1(typed));
            QCoreApplication::processEvents();
        });
        worst = std::max(worst, search);
        std::printf("%-36s %8.3f s  (%d matches)\n",
                    (std::string("search \"") + typed + "\"").c_str(), search,
                    window->searchModel().rowCount());
    }
    std::printf("%-36s %8.3f s  (target < 0.1 s)\n", "search, slowest keystroke", worst);
    const bool ok = load + show < 2.0 && check < 0.5 && worst < 0.1;
    std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
    return ok ? 0 : 1;
}
