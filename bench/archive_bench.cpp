// SPDX-License-Identifier: GPL-3.0-or-later
// Archives a generated tree plain, compressed, and compressed with splitting, reads each back,
// and prints MB/s beside `cp -r`, `gzip -9`, `tar | gzip -9`, `tar | pigz -9` and `tar xzf` on
// the same tree. Targets: compressed archiving at least as fast as `tar | pigz -9`, at most
// 1.01x the size of `tar | gzip -9`, reading back at 80% of `tar xzf` or better.
//
//   archive_bench [--small N] [--large N] [--large-mb MB] [--dir FOLDER]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "archive/sums.h"
#include "archive/volume_reader.h"
#include "bench_util.h"
#include "core/run_control.h"

using namespace kestrel;

namespace {

struct Run {
    double writeSeconds = 0;
    double readSeconds = 0;
    std::int64_t archiveBytes = 0;
    int volumes = 0;
    bool ok = true;
};

Run archiveAndRead(RunControl& rc, const std::string& folder, const bench::Tree& tree,
                   const std::string& name, bool zipped, std::int64_t split, bool sums = true) {
    Run run;
    std::vector<clsDskFile> files;
    for (const std::string& p : tree.files) {
        files.push_back(*clsDskFile::fromPath(p));
    }
    run.writeSeconds = bench::timed([&] {
        clsArchive archive(rc, folder);
        ArchiveOptions session;
        session.name = name;
        session.sessionDate = rc.clock.now();
        session.writeSums = sums;
        session.zip = zipped;
        session.totalBytes = tree.bytes;
        session.splitSize = split;
        archive.NewArchive(session);
        for (const clsDskFile& f : files) {
            if (archive.AddFileToArchive(f, false) != clsArchive::AddResult::Added) {
                run.ok = false;
            }
        }
        run.ok = archive.CloseArchive() && run.ok;
        for (const clsDskFile& v : archive.volumes()) {
            run.archiveBytes += std::filesystem::file_size(v.path + v.filename);
            ++run.volumes;
        }
    });
    auto catalogue = ReadCatalogue(folder + "/" + name + ".fs");
    FolderVolumes volumes(folder);
    run.readSeconds = bench::timed([&] {
        VolumeReader reader(nullptr, volumes, zipped);
        for (const clsRestoreFileData& rec : catalogue->records) {
            if (reader.extract(rec, [](std::string_view) { return true; }).status !=
                ExtractStatus::Ok) {
                run.ok = false;
            }
        }
    });
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Options o = bench::parseOptions(argc, argv, {2000, 4, 48, ""});
    bench::Scratch scratch(o.dir);
    const std::string treeDir = scratch.path() + "/tree";
    const bench::Tree tree = bench::makeTree(treeDir, o.files, o.large, o.largeMb << 20);
    std::printf("tree: %zu files, %.1f MB (%d small, %d x %lld MB)\n", tree.files.size(),
                static_cast<double>(tree.bytes) / 1e6, o.files, o.large,
                static_cast<long long>(o.largeMb));

    SystemClock clock;
    NullHost host;
    StandaloneControl standalone(host, clock);
    RunControl& rc = standalone.control;
    const std::string folder = scratch.path() + "/archives";

    const double cp = bench::timedCommand("cp -r " + bench::quote(treeDir) + " " +
                                          bench::quote(scratch.path() + "/copy"));
    std::printf("%-28s %8.1f MB/s\n", "cp -r (yardstick)",
                bench::megabytesPerSecond(tree.bytes, cp));
    std::filesystem::remove_all(scratch.path() + "/copy");

    const Run plain = archiveAndRead(rc, folder, tree, "plain", false, 0);
    std::printf("%-28s %8.1f MB/s   read back %8.1f MB/s   %s\n", "archive, plain",
                bench::megabytesPerSecond(tree.bytes, plain.writeSeconds),
                bench::megabytesPerSecond(tree.bytes, plain.readSeconds),
                plain.ok ? "ok" : "FAILED");

    const std::string volume = folder + "/plain.uxarc";
    const std::string volumeGz = scratch.path() + "/plain.uxarc.gz";
    const double gzip =
        bench::timedCommand("gzip -9 -c " + bench::quote(volume) + " > " + bench::quote(volumeGz));
    const auto volumeGzBytes = static_cast<std::int64_t>(std::filesystem::file_size(volumeGz));
    std::printf("%-28s %8.1f MB/s\n", "gzip -9 of the plain volume",
                bench::megabytesPerSecond(plain.archiveBytes, gzip));

    const Run zipped = archiveAndRead(rc, folder, tree, "zipped", true, 0);
    std::printf("%-28s %8.1f MB/s   read back %8.1f MB/s   %.1f MB  %s\n", "archive, compressed",
                bench::megabytesPerSecond(tree.bytes, zipped.writeSeconds),
                bench::megabytesPerSecond(tree.bytes, zipped.readSeconds),
                static_cast<double>(zipped.archiveBytes) / 1e6, zipped.ok ? "ok" : "FAILED");

    const std::int64_t split = std::max<std::int64_t>(zipped.archiveBytes / 8, 1 << 20);
    const Run splitRun = archiveAndRead(rc, folder, tree, "split", true, split);
    std::printf("%-28s %8.1f MB/s   read back %8.1f MB/s   %.1f MB in %d volumes (%+.2f%%)  %s\n",
                "archive, compressed + split",
                bench::megabytesPerSecond(tree.bytes, splitRun.writeSeconds),
                bench::megabytesPerSecond(tree.bytes, splitRun.readSeconds),
                static_cast<double>(splitRun.archiveBytes) / 1e6, splitRun.volumes,
                100.0 * static_cast<double>(splitRun.archiveBytes - zipped.archiveBytes) /
                    static_cast<double>(zipped.archiveBytes),
                splitRun.ok ? "ok" : "FAILED");
    const double gzipRate = bench::megabytesPerSecond(plain.archiveBytes, gzip);
    std::printf(
        "plain archiving at %.0f%% of cp, reading back at %.0f%%; compressed archiving at "
        "%.0f%% of gzip -9\n",
        100.0 * cp / plain.writeSeconds, 100.0 * cp / plain.readSeconds,
        100.0 * bench::megabytesPerSecond(tree.bytes, zipped.writeSeconds) / gzipRate);

    // The peers on the same tree.
    const std::string tgz = scratch.path() + "/tree.tgz";
    const std::string tar = "tar -cf - -C " + bench::quote(treeDir) + " . | ";
    const double tarGzip = bench::timedCommand(tar + "gzip -9 > " + bench::quote(tgz));
    const auto tarGzipBytes = static_cast<std::int64_t>(std::filesystem::file_size(tgz));
    const std::string untar = scratch.path() + "/untar";
    std::filesystem::create_directories(untar);
    const double tarX =
        bench::timedCommand("tar xzf " + bench::quote(tgz) + " -C " + bench::quote(untar));
    std::filesystem::remove_all(untar);
    const bool havePigz = std::system("command -v pigz > /dev/null") == 0;
    const double tarPigz =
        havePigz ? bench::timedCommand(tar + "pigz -9 > " + bench::quote(tgz)) : 0;
    const auto tarPigzBytes =
        havePigz ? static_cast<std::int64_t>(std::filesystem::file_size(tgz)) : 0;
    bool gzipTest = true;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const bool compressed = e.path().filename().string().rfind("plain", 0) != 0;
        if (e.path().extension() == ".uxarc" && compressed) {
            gzipTest = gzipTest &&
                       std::system(("gzip -t " + bench::quote(e.path().string())).c_str()) == 0;
        }
    }
    std::printf("%-28s %8.2f s  %8.1f MB\n", "tar | gzip -9", tarGzip,
                static_cast<double>(tarGzipBytes) / 1e6);
    if (havePigz) {
        std::printf("%-28s %8.2f s  %8.1f MB\n", "tar | pigz -9", tarPigz,
                    static_cast<double>(tarPigzBytes) / 1e6);
    }
    std::printf("%-28s %8.2f s  %8.1f MB\n", "archive, compressed", zipped.writeSeconds,
                static_cast<double>(zipped.archiveBytes) / 1e6);
    std::printf("%-28s %8.2f s  %8.1f MB\n", "gzip -9 of the plain volume", gzip,
                static_cast<double>(volumeGzBytes) / 1e6);
    std::printf("%-28s %8.2f s\n", "tar xzf", tarX);
    std::printf("%-28s %8.2f s\n", "compressed read back", zipped.readSeconds);
    std::printf(
        "compressed archiving: %.2fx the time of tar | pigz -9 (target <= 1.00), %.3fx the size "
        "of tar | gzip -9 (target <= 1.010); read back at %.0f%% of tar xzf (target >= 80%%); "
        "gzip -t of every compressed volume: %s\n",
        havePigz ? zipped.writeSeconds / tarPigz : 0.0,
        static_cast<double>(zipped.archiveBytes) / static_cast<double>(tarGzipBytes),
        100.0 * tarX / zipped.readSeconds, gzipTest ? "ok" : "FAILED");

    // What the checksum file's digests cost: the same archives without them, best of three
    // each way, as the machine's speed wanders.
    auto best = [&](const std::string& name, bool zip, bool sums) {
        double seconds = 0;
        for (int i = 0; i < 3; ++i) {
            const double s = archiveAndRead(rc, folder, tree, name, zip, 0, sums).writeSeconds;
            seconds = i == 0 ? s : std::min(seconds, s);
        }
        return seconds;
    };
    const double plainWith = best("plain", false, true);
    const double plainWithout = best("plain", false, false);
    const double zippedWith =
        archiveAndRead(rc, folder, tree, "zipped", true, 0, true).writeSeconds;
    const double zippedWithout =
        archiveAndRead(rc, folder, tree, "zipped", true, 0, false).writeSeconds;
    std::printf(
        "checksum file: plain archive %.2f s with digests, %.2f s without (%+.1f%%); compressed "
        "%.2f s, %.2f s (%+.1f%%)\n",
        plainWith, plainWithout, 100.0 * (plainWith / plainWithout - 1), zippedWith, zippedWithout,
        100.0 * (zippedWith / zippedWithout - 1));
    return plain.ok && zipped.ok && splitRun.ok && gzipTest ? 0 : 1;
}
