// SPDX-License-Identifier: GPL-3.0-or-later
// Uploads and downloads a large file and a folder of small files through pyftpdlib and vsftpd
// on 127.0.0.1, beside curl on the same files, and times a command round trip, a plain-copy run
// of the small files (each uploaded under a staged name and renamed) and a compressed archive
// run of them (the set uploaded staged and switched behind its journal), each twice, and an
// uncompressed archive run of the large file beside tar piped into curl.
//
//   ftp_bench [--mb N] [--files N] [--small-kb K] [--runs-only]
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench_util.h"
#include "core/app_context.h"
#include "engine/backup_run.h"
#include "ftp/ftp_connection.h"
#include "support/server_process.h"

using namespace kestrel;

namespace {

struct Server {
    std::string name;
    int port;
    std::string user;
    std::string password;
    std::string folder;  // remote folder to write into
    std::string root;    // its local root
    std::unique_ptr<test::ServerProcess> process;
};

std::unique_ptr<Server> pyftpdlib(const std::string& dir) {
    auto s = std::make_unique<Server>();
    s->name = "pyftpdlib";
    s->port = test::freePort();
    s->user = "user";
    s->password = "secret";
    s->folder = "/up";
    s->root = dir + "/py";
    std::filesystem::create_directories(s->root + "/up");
    s->process = std::make_unique<test::ServerProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
                                 std::to_string(s->port), "-w", "-d", s->root, "-u", s->user, "-P",
                                 s->password, "-r",
                                 std::to_string(s->port + 1) + "-" + std::to_string(s->port + 60)},
        s->port);
    return s->process->running() ? std::move(s) : nullptr;
}

std::unique_ptr<Server> vsftpd(const std::string& dir) {
    if (::geteuid() != 0 || !std::filesystem::exists("/usr/sbin/vsftpd")) {
        return nullptr;
    }
    auto s = std::make_unique<Server>();
    s->name = "vsftpd";
    s->port = test::freePort();
    s->user = "anonymous";
    s->folder = "/upload";
    s->root = dir + "/vs/root";
    std::filesystem::create_directories(s->root + "/upload");
    std::filesystem::create_directories(dir + "/vs/empty");
    std::filesystem::permissions(s->root + "/upload", std::filesystem::perms::all);
    std::ofstream(dir + "/vs/vsftpd.conf")
        << "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\nlisten_port="
        << s->port
        << "\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\nanon_upload_enable=YES\n"
           "anon_other_write_enable=YES\nanon_root="
        << s->root
        << "\nanon_umask=022\nno_anon_password=YES\nftp_username=daemon\nnopriv_user=daemon\n"
           "secure_chroot_dir="
        << dir << "/vs/empty\npasv_min_port=" << s->port + 1 << "\npasv_max_port=" << s->port + 60
        << "\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nxferlog_enable=NO\n";
    s->process = std::make_unique<test::ServerProcess>(
        std::vector<std::string>{"/usr/sbin/vsftpd", dir + "/vs/vsftpd.conf"}, s->port);
    return s->process->running() ? std::move(s) : nullptr;
}

std::string url(const Server& s, const std::string& path) {
    return "ftp://" + (s.password.empty() ? s.user : s.user + ":" + s.password) +
           "@127.0.0.1:" + std::to_string(s.port) + path;
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t mb = 200;
    int files = 1000;
    bool runsOnly = false;
    int smallKb = 0;  // 0: a line of text each
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs-only")) {
            runsOnly = true;
            mb = 0;
            continue;
        }
        if (i + 1 >= argc) {
            break;
        }
        if (!std::strcmp(argv[i], "--mb")) {
            mb = std::atoll(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--files")) {
            files = std::atoi(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--small-kb")) {
            smallKb = std::atoi(argv[i + 1]);
        }
        ++i;
    }
    bench::Scratch scratch(std::filesystem::temp_directory_path().string());
    const std::string dir = scratch.path();
    std::filesystem::create_directories(dir + "/small");
    {
        std::mt19937_64 gen(5);
        std::ofstream big(dir + "/big.bin", std::ios::binary);
        std::string chunk(1 << 20, '\0');
        for (std::int64_t i = 0; i < mb; ++i) {
            for (char& c : chunk) {
                c = static_cast<char>(gen());
            }
            big.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        for (int i = 0; i < files; ++i) {
            std::ofstream small(dir + "/small/f" + std::to_string(i) + ".txt");
            small << "small file " << i;
            // Words drawn at random: compressible about as text is.
            for (std::int64_t n = 0; n < std::int64_t{smallKb} * 1024; n += 8) {
                small << static_cast<char>('a' + gen() % 26) << "pqrstu ";
            }
        }
    }
    const std::int64_t bytes = mb << 20;

    SystemClock clock;
    NullHost host;
    AppContext ctx(ProgramFolder(dir + "/home", {}), clock, host);
    if (!ctx.initialise()) {
        std::printf("cannot make the program folder\n");
        return 1;
    }
    std::filesystem::create_directories(dir + "/home/temp");

    std::vector<std::unique_ptr<Server>> servers;
    if (auto s = pyftpdlib(dir)) {
        servers.push_back(std::move(s));
    }
    if (auto s = vsftpd(dir)) {
        servers.push_back(std::move(s));
    }
    for (auto& s : servers) {
        std::printf("== %s\n", s->name.c_str());
        int failed = 0;
        clsFTPConnection session(ctx.control);
        session.SetupConnection("127.0.0.1", s->port, s->user, s->password, true);
        if (!session.EstablishConnection()) {
            std::printf("cannot log in\n");
            continue;
        }
        const int rounds = 200;
        if (!runsOnly) {
            const double pwd = bench::timed([&] {
                for (int i = 0; i < rounds; ++i) {
                    failed += session.GetRootDir().empty() ? 1 : 0;
                }
            });
            std::printf("%-30s %8.2f ms\n", "command round trip (PWD)", 1000.0 * pwd / rounds);

            const double up = bench::timed(
                [&] { failed += session.StoreFile(dir + "/big.bin", s->folder) ? 0 : 1; });
            const double curlUp =
                bench::timedCommand("curl -s -T " + bench::quote(dir + "/big.bin") + " " +
                                    bench::quote(url(*s, s->folder + "/curl.bin")));
            std::printf("%-30s %8.1f MB/s   curl %8.1f MB/s  (%.0f%%)\n", "upload 1 large file",
                        bench::megabytesPerSecond(bytes, up),
                        bench::megabytesPerSecond(bytes, curlUp), 100.0 * curlUp / up);
            const double down = bench::timed([&] {
                failed += session.GetFile(s->folder + "/big.bin", dir + "/home/temp/big.bin") ==
                                  FtpClient::GetResult::Downloaded
                              ? 0
                              : 1;
            });
            const double curlDown =
                bench::timedCommand("curl -s -o " + bench::quote(dir + "/curl-down.bin") + " " +
                                    bench::quote(url(*s, s->folder + "/curl.bin")));
            std::printf("%-30s %8.1f MB/s   curl %8.1f MB/s  (%.0f%%)\n", "download 1 large file",
                        bench::megabytesPerSecond(bytes, down),
                        bench::megabytesPerSecond(bytes, curlDown), 100.0 * curlDown / down);
        }
        session.Disconnect();
        if (!runsOnly) {
            // The large file as an uncompressed archive run (volume built, then uploaded)
            // beside tar streaming the same bytes into curl.
            auto job = std::make_unique<clsBackup>();
            job->sName = "Large" + s->name;
            job->destFTP = true;
            job->objDestination = std::make_shared<clsKestrel>();
            job->objDestination->hostname = "127.0.0.1";
            job->objDestination->port = s->port;
            job->objDestination->username = s->user;
            job->objDestination->password = s->password;
            job->sDestinationDir = s->folder;
            job->archived = true;
            job->AddFile(std::make_unique<clsBackupFile>(
                clsBackupFile{dir + "/big.bin", kSourceFile, 0, 0}));
            RunOptions options;
            options.ftp = makeFtpClient;
            RunSummary r;
            const double run = bench::timed([&] { r = BackupJob(ctx, *job, job->sName, options); });
            failed += r.status == kStatusOk ? 0 : 1;
            const double tarCurl = bench::timedCommand(
                "tar cf - -C " + bench::quote(dir) + " big.bin | curl -s -T - " +
                bench::quote(url(*s, s->folder + "/curl.tar")));
            std::printf("%-30s %8.2f s    tar | curl %8.2f s  (%.0f%%)\n",
                        "archive run, large file", run, tarCurl, 100.0 * tarCurl / run);
        }
        if (failed > 0) {
            std::printf("%d command(s) or transfer(s) FAILED\n", failed);
        }

        // Runs over the small files: plain copies, then a compressed archive set.
        for (const bool archived : {false, true}) {
            auto job = std::make_unique<clsBackup>();
            job->sName = "Small" + s->name;
            job->destFTP = true;
            job->objDestination = std::make_shared<clsKestrel>();
            job->objDestination->hostname = "127.0.0.1";
            job->objDestination->port = s->port;
            job->objDestination->username = s->user;
            job->objDestination->password = s->password;
            job->sDestinationDir = s->folder;
            job->archived = archived;
            job->bZipped = archived;
            job->AddFile(std::make_unique<clsBackupFile>(
                clsBackupFile{dir + "/small", kSourceFolder, 0, 0}));
            const std::string name = job->sName;
            RunOptions options;
            options.ftp = makeFtpClient;
            for (int round = 1; round <= 2; ++round) {
                RunSummary r;
                const double run = bench::timed([&] { r = BackupJob(ctx, *job, name, options); });
                std::printf("%-30s %8.2f s    %lld stored%s\n",
                            archived ? "archive run, small files" : "plain-copy run, small files",
                            run, static_cast<long long>(r.stored),
                            r.status == kStatusOk ? "" : "  FAILED");
            }
        }
    }
    return 0;
}
