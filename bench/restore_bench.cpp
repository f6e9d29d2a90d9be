// SPDX-License-Identifier: GPL-3.0-or-later
// Backs up a generated tree of about 1 GB into a plain and a compressed archive, restores all of
// each to another folder, and compares with `tar xf` and `gzip -dc | tar x` of the same tree.
//
//   restore_bench [--files N] [--large N] [--large-mb MB] [--dir FOLDER]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_job.h"
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
    // What earlier steps left dirty is written out before each timed step, so that no step pays
    // for another's writes.
    const auto settle = [] {
        if (std::system("sync") != 0) {
            std::fprintf(stderr, "sync failed\n");
        }
    };
    // Restores everything of a job backed up once; the seconds of the restore, -1 on failure.
    const auto backupAndRestore = [&](const std::string& name, bool zipped) {
        const std::string dest = scratch.path() + "/dest-" + name;
        auto job = bench::makeJob(name, tree, dest, true, false);
        job->bZipped = zipped;
        RunSummary backup;
        if (runner.addJob(std::move(job)) != RunnerResult::Done ||
            runner.RunBackup(name, &backup) != RunnerResult::Done || backup.status != kStatusOk) {
            std::printf("backup failed\n");
            return -1.0;
        }
        RestoreState state;
        if (runner.openRestore(name, state) != RunnerResult::Done) {
            std::printf("catalogue failed\n");
            return -1.0;
        }
        for (int s : state.tree.sessions()) {
            state.tree.setChecked(s, true);
        }
        RestoreSummary summary;
        settle();
        const double seconds = bench::timed([&] {
            if (runner.restore(state, RestoreOptions{false, scratch.path() + "/restored", true},
                               &summary) != RunnerResult::Done) {
                summary.failed = 1;
            }
        });
        std::printf("%-26s %8.2f s  %8.1f MB/s  restored %lld, failed %lld\n",
                    ("restore (" + name + ")").c_str(), seconds,
                    bench::megabytesPerSecond(t.bytes, seconds),
                    static_cast<long long>(summary.restored),
                    static_cast<long long>(summary.failed));
        std::filesystem::remove_all(scratch.path() + "/restored");
        return summary.failed == 0 ? seconds : -1.0;
    };
    const double restore = backupAndRestore("plain", false);
    const double restoreZipped = backupAndRestore("compressed", true);

    bench::timedCommand("tar cf " + bench::quote(scratch.path() + "/tree.tar") + " -C " +
                        bench::quote(scratch.path()) + " tree");
    // A restore is on the disk when it reports success; tar is timed without and with a sync
    // at its end (the latter is the like-for-like yardstick).
    const auto untarInto = [&](const std::string& command, bool durable) {
        std::filesystem::remove_all(scratch.path() + "/untar");
        std::filesystem::create_directories(scratch.path() + "/untar");
        settle();
        return bench::timedCommand(command + " -C " + bench::quote(scratch.path() + "/untar") +
                                   (durable ? " && sync" : ""));
    };
    const std::string tarX = "tar xf " + bench::quote(scratch.path() + "/tree.tar");
    const double untar = untarInto(tarX, false);
    const double untarSynced = untarInto(tarX, true);
    std::printf("%-26s %8.2f s  %8.1f MB/s\n", "tar xf (yardstick)", untar,
                bench::megabytesPerSecond(t.bytes, untar));
    std::printf("%-26s %8.2f s  %8.1f MB/s\n", "tar xf && sync", untarSynced,
                bench::megabytesPerSecond(t.bytes, untarSynced));
    bench::timedCommand("gzip -6 -c " + bench::quote(scratch.path() + "/tree.tar") + " > " +
                        bench::quote(scratch.path() + "/tree.tgz"));
    const std::string gzipX = "gzip -dc " + bench::quote(scratch.path() + "/tree.tgz") + " | tar x";
    const double untgz = untarInto(gzipX, false);
    const double untgzSynced = untarInto(gzipX, true);
    std::printf("%-26s %8.2f s  %8.1f MB/s\n", "gzip -dc | tar x", untgz,
                bench::megabytesPerSecond(t.bytes, untgz));
    std::printf("%-26s %8.2f s  %8.1f MB/s\n", "gzip -dc | tar x && sync", untgzSynced,
                bench::megabytesPerSecond(t.bytes, untgzSynced));
    std::printf(
        "plain restore at %.0f%% of tar xf (%.0f%% of tar xf && sync), compressed restore at "
        "%.0f%% of gzip -dc | tar x (%.0f%% with sync) (target >= 80%%)\n",
        100.0 * untar / restore, 100.0 * untarSynced / restore, 100.0 * untgz / restoreZipped,
        100.0 * untgzSynced / restoreZipped);
    return restore > 0 && restoreZipped > 0 ? 0 : 1;
}
