// Backs up a generated tree of about 1 GB into a plain archive, restores all of it to another
// folder, and compares with `tar xf` of the same tree.
//
//   restore_bench [--files N] [--large N] [--large-mb MB] [--dir FOLDER]
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_util.h"
#include "core/app_context.h"
#include "engine/backup_run.h"
#include "runner/job_runner.h"

using namespace kestrel;

int main(int argc, char** argv) {
    const bench::Options o = bench::parseOptions(argc, argv, {2000, 8, 120, ""});
    bench::Scratch scratch(o.dir);
    const std::string tree = scratch.path() + "/tree";
    const bench::Tree t = bench::makeTree(tree, o.files, o.large, o.largeMb << 20);
    std::printf("tree: %zu files, %.1f MB\n", t.files.size(), static_cast<double>(t.bytes) / 1e6);

    SystemClock clock;
    NullHost host;
    AppContext ctx(ProgramFolder(scratch.path() + "/home", {}), clock, host);
    if (!ctx.initialise()) {
        std::printf("cannot make the program folder\n");
        return 1;
    }
    JobRunner runner(ctx);
    std::filesystem::create_directories(scratch.path() + "/dest");
    auto job = std::make_unique<clsBackup>();
    job->sName = "Bench";
    job->sDestinationDir = scratch.path() + "/dest";
    job->archived = true;
    job->AddFile(std::make_unique<clsBackupFile>(clsBackupFile{tree, kSourceFolder, 0, 0}));
    RunSummary backup;
    if (runner.addJob(std::move(job)) != RunnerResult::Done ||
        runner.RunBackup("Bench", &backup) != RunnerResult::Done || backup.status != kStatusOk) {
        std::printf("backup failed\n");
        return 1;
    }

    RestoreState state;
    if (runner.openRestore("Bench", state) != RunnerResult::Done) {
        std::printf("catalogue failed\n");
        return 1;
    }
    for (int s : state.tree.sessions()) {
        state.tree.setChecked(s, true);
    }
    RestoreSummary summary;
    const double restore = bench::timed([&] {
        if (runner.restore(state, RestoreOptions{false, scratch.path() + "/restored", true},
                           &summary) != RunnerResult::Done) {
            summary.failed = 1;
        }
    });
    std::printf("%-26s %8.2f s  %8.1f MB/s  restored %lld, failed %lld\n",
                "restore (plain archive)", restore, bench::megabytesPerSecond(t.bytes, restore),
                static_cast<long long>(summary.restored), static_cast<long long>(summary.failed));
    std::filesystem::remove_all(scratch.path() + "/restored");

    bench::timedCommand("tar cf " + bench::quote(scratch.path() + "/tree.tar") + " -C " +
                        bench::quote(scratch.path()) + " tree");
    std::filesystem::create_directories(scratch.path() + "/untar");
    const double untar =
        bench::timedCommand("tar xf " + bench::quote(scratch.path() + "/tree.tar") + " -C " +
                            bench::quote(scratch.path() + "/untar"));
    std::printf("%-26s %8.2f s  %8.1f MB/s\n", "tar xf (yardstick)", untar,
                bench::megabytesPerSecond(t.bytes, untar));
    std::printf("restore at %.0f%% of tar xf\n", 100.0 * untar / restore);
    return summary.failed == 0 ? 0 : 1;
}
