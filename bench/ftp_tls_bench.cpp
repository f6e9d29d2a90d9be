// SPDX-License-Identifier: GPL-3.0-or-later
// A compressed archive run of N MB (half text, half random) to vsftpd and pyftpdlib on
// 127.0.0.1, with TLS (a pinned self-signed certificate) beside the same run without it, and
// the bytes the run stored uploaded again by one session and by curl (--ssl-reqd with TLS).
//
//   ftp_tls_bench [--mb N]
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_util.h"
#include "core/app_context.h"
#include "engine/backup_run.h"
#include "ftp/ftp_connection.h"
#include "support/server_process.h"

using namespace kestrel;

namespace {

// The run's stored files, joined into one file for curl; its size.
std::int64_t joinStored(const std::string& folder, const std::string& out) {
    std::ofstream joined(out, std::ios::binary);
    std::int64_t bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (e.is_regular_file()) {
            std::ifstream in(e.path(), std::ios::binary);
            joined << in.rdbuf();
            bytes += static_cast<std::int64_t>(e.file_size());
        }
    }
    return bytes;
}

std::string fingerprintOf(const std::string& pem) {
    std::string out(256, '\0');
    if (FILE* p = ::popen(("openssl x509 -noout -fingerprint -sha256 -in " + pem).c_str(), "r")) {
        out.resize(std::fread(out.data(), 1, out.size(), p));
        ::pclose(p);
    }
    const size_t eq = out.find('=');
    return eq == std::string::npos
               ? ""
               : normalizedFingerprint(out.substr(eq + 1, out.find('\n') - eq - 1)).value_or("");
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t mb = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb")) {
            mb = std::atoll(argv[i + 1]);
        }
    }
    bench::Scratch scratch(std::filesystem::temp_directory_path().string());
    const std::string dir = scratch.path();
    const bench::Tree tree = bench::makeTree(dir + "/src", 0, 10, (mb << 20) / 10);
    const std::string pem = dir + "/server.pem";
    const std::string key = dir + "/server.key";
    if (std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
                     "-keyout " +
                     key + " -out " + pem + " 2>/dev/null")
                        .c_str()) != 0) {
        std::printf("openssl could not make a certificate\n");
        return 1;
    }
    const std::string pin = fingerprintOf(pem);

    SystemClock clock;
    NullHost host;
    AppContext ctx(ProgramFolder(dir + "/home", {}), clock, host);
    if (!ctx.initialise()) {
        std::printf("cannot make the program folder\n");
        return 1;
    }
    std::filesystem::create_directories(dir + "/home/temp");
    std::printf("%lld MB of sources, compressed archive runs\n",
                static_cast<long long>(tree.bytes >> 20));

    for (const bool vs : {true, false}) {
        for (const bool tls : {false, true}) {
            const test::ServerTls serverTls = tls ? test::ServerTls{pem, key} : test::ServerTls{};
            std::unique_ptr<test::FtpServerProgram> server =
                vs ? std::unique_ptr<test::FtpServerProgram>(
                         std::make_unique<test::VsFtpServer>("127.0.0.1", serverTls))
                   : std::make_unique<test::PyFtpServer>("127.0.0.1", serverTls);
            const std::string name = std::string(vs ? "vsftpd" : "pyftpdlib") + (tls ? " TLS" : "");
            if (!server->unavailable().empty()) {
                std::printf("== %s: %s\n", name.c_str(), server->unavailable().c_str());
                continue;
            }
            const std::string user = vs ? "anonymous" : "user";
            const std::string password = vs ? "" : "secret";
            const std::string folder = vs ? "/upload" : "/up";
            std::filesystem::create_directories(server->local(folder));

            auto job = std::make_unique<clsBackup>();
            job->sName = "Tls";
            job->destFTP = true;
            job->objDestination = std::make_shared<clsKestrel>();
            job->objDestination->hostname = "127.0.0.1";
            job->objDestination->port = server->port();
            job->objDestination->username = user;
            job->objDestination->password = password;
            job->objDestination->bTls = tls;
            job->objDestination->sTlsPin = pin;
            job->sDestinationDir = folder;
            job->archived = true;
            job->bZipped = true;
            job->AddFile(
                std::make_unique<clsBackupFile>(clsBackupFile{dir + "/src", kSourceFolder, 0, 0}));
            RunOptions options;
            options.ftp = makeFtpClient;
            RunSummary r;
            const double run = bench::timed([&] { r = BackupJob(ctx, *job, job->sName, options); });
            const std::string wire = dir + "/wire.bin";
            const std::int64_t stored = joinStored(server->local(folder), wire);
            const std::string url = "ftp://" + (password.empty() ? user : user + ":" + password) +
                                    "@127.0.0.1:" + std::to_string(server->port()) + folder +
                                    "/curl.bin";
            // The same bytes through one session, without the run's compression.
            clsFTPConnection session(ctx.control);
            session.SetupConnection("127.0.0.1", server->port(), user, password, true);
            session.SetupTls(tls, pin);
            double upload = -1;
            if (session.EstablishConnection()) {
                upload = bench::timed([&] {
                    if (!session.StoreFileAs(wire, folder + "/session.bin")) {
                        upload = -1;
                    }
                });
                session.Disconnect();
            }
            const double curl =
                bench::timedCommand(std::string("curl -s ") + (tls ? "--ssl-reqd -k " : "") +
                                    "-T " + bench::quote(wire) + " " + bench::quote(url));
            std::printf(
                "== %-14s run %6.2f s %6.1f MB/s of sources, %6.1f MB/s stored (%lld MB)%s"
                "  upload %6.1f MB/s%s  curl -T%s %6.1f MB/s%s\n",
                name.c_str(), run, bench::megabytesPerSecond(tree.bytes, run),
                bench::megabytesPerSecond(stored, run), static_cast<long long>(stored >> 20),
                r.status == kStatusOk ? "" : " FAILED", bench::megabytesPerSecond(stored, upload),
                upload < 0 ? " FAILED" : "", tls ? " --ssl-reqd" : "",
                bench::megabytesPerSecond(stored, curl), curl < 0 ? " FAILED" : "");
            std::filesystem::remove(wire);
        }
    }
    return 0;
}
