// SPDX-License-Identifier: GPL-3.0-or-later
// Full and incremental backup runs over a generated tree of many small files and a few large
// ones, as plain copies and as a compressed archive, beside `cp -a` and `tar cf - | gzip -9`.
//
//   run_bench [--files N] [--large N] [--large-mb MB] [--dir FOLDER]
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_job.h"
#include "bench_util.h"
#include "core/app_context.h"
#include "engine/backup_run.h"

using namespace kestrel;

namespace {

void report(const char* what, std::size_t files, std::int64_t bytes, double seconds,
            const RunSummary& r) {
    std::printf("%-34s %8.2f s  %9.0f files/s  %8.1f MB/s  stored %lld, not stored %lld\n", what,
                seconds, static_cast<double>(files) / seconds,
                bench::megabytesPerSecond(bytes, seconds), static_cast<long long>(r.stored),
                static_cast<long long>(r.notStored));
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Options o = bench::parseOptions(argc, argv, {100000, 3, 64, ""});
    bench::Scratch scratch(o.dir);
    const std::string tree = scratch.path() + "/tree";
    const bench::Tree t = bench::makeTree(tree, o.files, o.large, o.largeMb << 20, 512, 8192);
    std::printf("tree: %zu files, %.1f MB\n", t.files.size(), static_cast<double>(t.bytes) / 1e6);

    const double cp = bench::timedCommand("cp -a " + bench::quote(tree) + " " +
                                          bench::quote(scratch.path() + "/cp"));
    std::printf("%-34s %8.2f s  %9.0f files/s  %8.1f MB/s\n", "cp -a (yardstick)", cp,
                static_cast<double>(t.files.size()) / cp, bench::megabytesPerSecond(t.bytes, cp));
    std::filesystem::remove_all(scratch.path() + "/cp");
    const double tar =
        bench::timedCommand("tar cf - -C " + bench::quote(scratch.path()) + " tree | gzip -9 > " +
                            bench::quote(scratch.path() + "/tree.tgz"));
    std::printf("%-34s %8.2f s  %9.0f files/s  %8.1f MB/s\n", "tar | gzip -9 (yardstick)", tar,
                static_cast<double>(t.files.size()) / tar, bench::megabytesPerSecond(t.bytes, tar));
    std::filesystem::remove(scratch.path() + "/tree.tgz");

    SystemClock clock;
    NullHost host;
    AppContext ctx(ProgramFolder(scratch.path() + "/home", {}), clock, host);
    if (!ctx.initialise()) {
        std::fprintf(stderr, "cannot make the program folder\n");
        return 1;
    }

    auto copyJob = bench::makeJob("Copy", tree, scratch.path() + "/copy", false, false);
    RunSummary r;
    const double copy = bench::timed([&] { r = BackupJob(ctx, *copyJob, "Copy"); });
    report("run: plain copies, full", t.files.size(), t.bytes, copy, r);
    std::filesystem::remove_all(scratch.path() + "/copy");

    auto plainJob = bench::makeJob("Plain", tree, scratch.path() + "/plain", true, false);
    plainJob->bZipped = false;
    const double plain = bench::timed([&] { r = BackupJob(ctx, *plainJob, "Plain"); });
    report("run: plain archive, full", t.files.size(), t.bytes, plain, r);
    std::filesystem::remove_all(scratch.path() + "/plain");

    auto arcJob = bench::makeJob("Arc", tree, scratch.path() + "/arc", true, true);
    const double full = bench::timed([&] { r = BackupJob(ctx, *arcJob, "Arc"); });
    report("run: compressed archive, first", t.files.size(), t.bytes, full, r);
    const double incr = bench::timed([&] { r = BackupJob(ctx, *arcJob, "Arc"); });
    report("run: compressed archive, unchanged", t.files.size(), t.bytes, incr, r);

    std::printf(
        "plain copies at %.0f%% of cp -a; archive at %.0f%% of tar | gzip -9; unchanged "
        "incremental run takes %.1f%% of the first\n",
        100.0 * cp / copy, 100.0 * tar / full, 100.0 * incr / full);
    return 0;
}
