#include "cli/cli_app.h"
#include "cli/command.h"
#include "cli/run_cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "archive/archive.h"
#include "core/app_context.h"
#include "platform/fs.h"
#include "support/fake_clock.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

class CliTest : public ::testing::Test {
protected:
    using Result = test::CliResult;

    Result run(std::vector<std::string> args) {
        return test::runCliIn(home.path(), std::move(args), clock);
    }

    test::TempDir home;
    test::TempDir data;
    test::FakeClock clock;
};

TEST_F(CliTest, HelpExplainsEveryCommand) {
    const Result r = run({"--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* command :
         {"list", "show", "new", "edit", "delete", "run", "sessions", "ls", "restore", "catalogue",
          "verify", "ftp-ls", "ftp-mkdir", "--home"}) {
        EXPECT_NE(r.out.find(command), std::string::npos) << command;
    }
    const Result newHelp = run({"new", "--help"});
    EXPECT_EQ(newHelp.code, 0);
    for (const char* option : {"--source", "--dest", "--ftp", "--type", "--storage", "--split",
                               "--include", "--exclude", "--password", "--schedule"}) {
        EXPECT_NE(newHelp.out.find(option), std::string::npos) << option;
    }
}

TEST_F(CliTest, BadArgumentsExitWithTwo) {
    EXPECT_EQ(run({}).code, kExitBadUsage);
    EXPECT_EQ(run({"frobnicate"}).code, kExitBadUsage);
    EXPECT_EQ(run({"show"}).code, kExitBadUsage);
    EXPECT_EQ(run({"show", "nobody"}).code, kExitBadUsage);
    EXPECT_EQ(run({"delete", "nobody"}).code, kExitBadUsage);
    const std::string src = data.write("src/a.txt", "hello");
    const Result missingSource = run({"new", "--source", data.file("nope"), "--dest", data.path()});
    EXPECT_EQ(missingSource.code, kExitBadUsage);
    EXPECT_NE(missingSource.err.find("no such file or folder"), std::string::npos);
    const Result missingDest = run({"new", "--source", src, "--dest", data.file("nope")});
    EXPECT_EQ(missingDest.code, kExitBadUsage);
    EXPECT_NE(missingDest.err.find("Destination directory does not exists!"), std::string::npos);
    EXPECT_EQ(run({"new", "--source", src, "--dest", data.path(), "--type", "weekly"}).code, 2);
    EXPECT_EQ(
        run({"new", "--source", src, "--dest", data.path(), "--storage", "copy", "--split", "10M"})
            .code,
        2);
    EXPECT_EQ(
        run({"new", "--source", src, "--dest", data.path(), "--schedule", "daily:xyz@08:00"}).code,
        2);
    EXPECT_EQ(run({"new", "--source", src, "--dest", data.path(), "--schedule", "hourly:60"}).code,
              2);
    const Result ftpCopy =
        run({"new", "--source", src, "--ftp", "host", "--storage", "copy", "--dest", "/b"});
    EXPECT_EQ(ftpCopy.code, 2);
    EXPECT_NE(ftpCopy.err.find("You can't use this option with ftp destination!"),
              std::string::npos);
    // Nothing was stored by the refused commands.
    EXPECT_EQ(run({"list"}).out, "No jobs.\n");
}

TEST_F(CliTest, NewListShowAndDeleteOnAFreshProgramFolder) {
    const std::string folder = data.write("src/docs/a.txt", "hello").substr(0);
    const std::string file = data.write("src/single.bin", "1234567");
    Result r =
        run({"new", "--source", data.file("src/docs"), "--source", file, "--dest", data.path(),
             "--type", "incremental", "--storage", "compressed", "--split", "2M", "--exclude",
             "*.tmp", "--schedule", "daily:mon,fri@08:00", "--schedule-from", "2026-12-06 10:00"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Created job \"New backup 1\".\n");

    r = run({"new", "--name", "off-site", "--source", data.file("src/docs"), "--ftp",
             "ftp.example.org", "--ftp-user", "u", "--ftp-password", "pw", "--dest", "/backups"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Created job \"offsite\".\n");  // "-" is removed from names

    r = run({"new", "--name", "offsite", "--source", file, "--dest", data.path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("Backup name already exists!"), std::string::npos);

    r = run({"list"});
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("New backup 1"), std::string::npos);
    EXPECT_NE(r.out.find("Incremental"), std::string::npos);
    EXPECT_NE(r.out.find("ftp://u@ftp.example.org:21/backups"), std::string::npos);
    EXPECT_NE(r.out.find("Never"), std::string::npos);
    // The schedule starts counting on Sunday 6 December at 10:00: its first run is the Monday.
    EXPECT_NE(r.out.find("NEXT RUN"), std::string::npos);
    EXPECT_NE(r.out.find("Monday, Dec 07 at 08:00"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Not scheduled"), std::string::npos);

    r = run({"show", "New backup 1"});
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Compressed archive, volumes of 2097152 bytes"), std::string::npos);
    EXPECT_NE(r.out.find("daily:mon,fri@08:00, from 2026-12-06 10:00"), std::string::npos);
    EXPECT_NE(r.out.find("  folder  " + data.file("src/docs")), std::string::npos);
    EXPECT_NE(r.out.find("  file    " + file + " (7 bytes)"), std::string::npos);
    EXPECT_NE(r.out.find("*.tmp"), std::string::npos);
    EXPECT_EQ(r.out.find("pw"), std::string::npos);

    EXPECT_EQ(run({"delete", "offsite"}).code, 0);
    EXPECT_EQ(run({"show", "offsite"}).code, 2);
    EXPECT_EQ(run({"list"}).out.find("offsite"), std::string::npos);
}

// The job store's files in the program folder, name and content.
std::map<std::string, std::string> storeFiles(const std::string& home) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(home)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("backups.ini")) {
            files[name] = test::readAll(e.path().string());
        }
    }
    return files;
}

// list and show read a damaged store without writing a file; new keeps a copy before the first
// rewrite, and is refused (exit 1, naming the store) where not one job can be read.
TEST_F(CliTest, ADamagedJobStoreIsReadWithoutWritingAndNeverLostByANewJob) {
    const std::string src = data.write("src/a.txt", "hello");
    const std::string store = home.file("backups.ini");
    const std::string job = "[Docs]\r\nDestination=/d\r\nDir0001=/src\r\n";
    struct Case {
        const char* what;
        std::string content;
        int readCode;  // of list and show
        int newCode;
        size_t copies;  // after the new job
    };
    const std::vector<Case> cases = {
        {"BOM", "\xEF\xBB\xBF[Backups]\r\nDocs\r\n" + job, kExitOk, kExitOk, 0},
        {"a section the list lacks", "[Backups]\r\nDocs\r\n" + job + "[Pics]\r\nDestination=/p\r\n",
         kExitOk, kExitOk, 1},
        {"NULs before the list", std::string(3, '\0') + "[Backups]\r\nDocs\r\n" + job, kExitFailed,
         kExitFailed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [name, content] : storeFiles(home.path())) {
            std::filesystem::remove(home.file(name));
        }
        home.write("backups.ini", c.content);
        for (int i = 0; i < 3; ++i) {
            const Result list = run({"list"});
            const Result show = run({"show", "Docs"});
            EXPECT_EQ(list.code, c.readCode) << list.err;
            EXPECT_EQ(show.code, c.readCode) << show.err;
            EXPECT_EQ(list.out.find("No jobs."), std::string::npos);
            if (c.readCode == kExitOk) {
                EXPECT_NE(list.out.find("Docs"), std::string::npos);
                EXPECT_NE(show.out.find("  folder  /src"), std::string::npos);
            } else {
                EXPECT_NE(list.err.find(store), std::string::npos) << list.err;
                EXPECT_NE(show.err.find(store), std::string::npos) << show.err;
                const Result edit = run({"edit", "Docs", "--dest", data.path()});
                EXPECT_NE(edit.err.find("Not one job of the job store " + store), std::string::npos)
                    << edit.err;
            }
        }
        EXPECT_EQ(storeFiles(home.path()),
                  (std::map<std::string, std::string>{{"backups.ini", c.content}}));

        for (const char* name : {"One", "Two"}) {
            const Result r = run({"new", "--name", name, "--source", src, "--dest", data.path()});
            EXPECT_EQ(r.code, c.newCode) << r.err;
            if (c.newCode != kExitOk) {
                EXPECT_NE(r.err.find("Not one job of the job store " + store), std::string::npos)
                    << r.err;
            }
        }
        const auto files = storeFiles(home.path());
        size_t copies = 0;
        for (const auto& [name, content] : files) {
            if (name.find(".damaged-") != std::string::npos) {
                EXPECT_EQ(content, c.content);
                ++copies;
            }
        }
        EXPECT_EQ(copies, c.copies);
        if (c.newCode != kExitOk) {
            EXPECT_EQ(files.at("backups.ini"), c.content);
            continue;
        }
        const Result list = run({"list"});
        for (const char* name : {"Docs", "One", "Two"}) {
            EXPECT_NE(list.out.find(name), std::string::npos) << name;
        }
    }
}

TEST_F(CliTest, DeletingAProtectedJobNeedsItsPassword) {
    const std::string file = data.write("a.txt", "x");
    ASSERT_EQ(
        run({"new", "--name", "Safe", "--source", file, "--dest", data.path(), "--password", "pw1"})
            .code,
        0);
    Result r = run({"delete", "Safe"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("Wrong password for deleting Safe!"), std::string::npos);
    EXPECT_EQ(run({"delete", "Safe", "--password", "wrong"}).code, 2);
    r = run({"delete", "Safe", "--password", "pw1"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("Password OK for deleting Safe!"), std::string::npos);
}

TEST_F(CliTest, CatalogueAndVerifyAnArchiveSet) {
    // An archive written into a folder of its own, as it lies at a destination.
    test::FakeHost host;
    AppContext ctx(ProgramFolder(data.path(), {}), clock, host);
    ASSERT_TRUE(ctx.initialise());
    clsArchive archive(ctx.control, ctx.paths.tempDir());
    archive.dSessionDate = *DateTime::fromParts(2026, 1, 5, 14, 30, 12);
    archive.sArcfName = "Daily";
    archive.NewArchive("Daily", true, true);
    archive.bSplit = true;
    archive.dSplitSize = 3000;
    for (int i = 0; i < 4; ++i) {
        std::string content(static_cast<size_t>(2000 + i), '\0');
        std::mt19937 gen(static_cast<unsigned>(i));
        for (char& c : content) {
            c = static_cast<char>(gen());
        }
        const std::string path = data.write("src/file " + std::to_string(i), content);
        ASSERT_EQ(archive.AddFileToArchive(*clsDskFile::fromPath(path), false), 1);
    }
    ASSERT_TRUE(archive.CloseArchive());
    const std::string fs = data.file("temp/Daily.fs");

    Result r = run({"catalogue", fs});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("1 session(s), 4 file(s)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Session 2026-01-05 14:30:12: 4 file(s), 8,006 bytes"), std::string::npos);
    EXPECT_NE(r.out.find(data.file("src/file 3")), std::string::npos);

    r = run({"verify", fs});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Verified 4 file(s): 4 OK, 0 failed."), std::string::npos) << r.out;

    // Cut the last volume short: verify names the damaged file.
    std::string last = "Daily";
    while (kestrel::fs::exists(data.file("temp/" + nextVolumeName(last) + ".uxarc"))) {
        last = nextVolumeName(last);
    }
    ASSERT_NE(last, "Daily");
    std::filesystem::resize_file(data.file("temp/" + last + ".uxarc"), 30);
    r = run({"verify", fs});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.out.find("FAIL "), std::string::npos);
    EXPECT_NE(r.out.find("failed."), std::string::npos);

    EXPECT_EQ(run({"catalogue", data.file("nothing.fs")}).code, kExitFailed);
    EXPECT_EQ(run({"verify", fs, "--plain", "--compressed"}).code, kExitBadUsage);
}

TEST_F(CliTest, RunStoresAJobAndReportsItsOutcome) {
    data.write("src/a.txt", "alpha");
    data.write("src/sub/b.txt", "beta");
    std::filesystem::create_directories(data.file("dest"));
    ASSERT_EQ(run({"new", "--name", "Docs", "--source", data.file("src"), "--dest",
                   data.file("dest"), "--storage", "compressed"})
                  .code,
              0);
    Result r = run({"run", "Docs"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.err.find("*   Backup files stored:  2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("*   Total backup files count: 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Backup of Docs finished succesfully!"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(data.file("dest/Docs.uxarc")));
    EXPECT_NE(run({"list"}).out.find("OK"), std::string::npos);
    EXPECT_EQ(run({"verify", data.file("dest/Docs.fs")}).code, kExitOk);

    r = run({"run", "Nobody"});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_NE(r.err.find("No backup named Nobody!"), std::string::npos);

    ASSERT_EQ(run({"new", "--name", "Broken", "--source", data.file("src/a.txt"), "--dest",
                   data.file("dest"), "--storage", "copy"})
                  .code,
              0);
    std::filesystem::remove(data.file("src/a.txt"));
    EXPECT_EQ(run({"run", "Broken"}).code, kExitFailed);
    EXPECT_NE(run({"show", "Broken"}).out.find("failed"), std::string::npos);
}

TEST_F(CliTest, SessionsLsAndRestore) {
    const std::string a = data.write("src/a.txt", "alpha");
    data.write("src/sub/b.txt", "beta");
    std::filesystem::create_directories(data.file("dest"));
    ASSERT_EQ(run({"new", "--name", "Docs", "--source", data.file("src"), "--dest",
                   data.file("dest"), "--storage", "archive", "--type", "incremental"})
                  .code,
              0);
    ASSERT_EQ(run({"run", "Docs"}).code, 0);
    clock.advanceSeconds(120);
    std::ofstream(a) << "alpha 2";
    ASSERT_EQ(run({"run", "Docs"}).code, 0);

    Result r = run({"sessions", "Docs"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("20060115193005  2006-01-15 19:30:05  2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("20060115193205  2006-01-15 19:32:05  1"), std::string::npos) << r.out;

    r = run({"ls", "Docs", data.file("src"), "--session", "20060115193005"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("a.txt"), std::string::npos);
    EXPECT_NE(r.out.find("sub/"), std::string::npos);
    EXPECT_EQ(run({"ls", "Docs", "/no/such/folder"}).code, kExitBadUsage);
    EXPECT_EQ(run({"ls", "Docs", "--session", "2006"}).code, kExitBadUsage);

    // Without a session every file comes from the newest session that holds it.
    r = run({"restore", "Docs", data.file("src"), "--to", data.file("out")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(data.file("out") + a), "alpha 2");
    EXPECT_EQ(test::readAll(data.file("out") + data.file("src/sub/b.txt")), "beta");
    EXPECT_NE(r.err.find("2/2 files restored to " + data.file("out") + "!"), std::string::npos);

    r = run({"restore", "Docs", a, "--session", "20060115193005"});
    EXPECT_EQ(r.code, kExitFailed);  // the file exists and nobody answered yes
    EXPECT_EQ(test::readAll(a), "alpha 2");
    EXPECT_NE(
        r.err.find("None of the 1 chosen files could be restored (0 failed, 1 kept): see the log."),
        std::string::npos)
        << r.err;
    r = run({"restore", "Docs", a, "--session", "20060115193005", "--overwrite"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(a), "alpha");
    EXPECT_NE(r.err.find("1/1 files restored to their original folders!"), std::string::npos)
        << r.err;

    EXPECT_EQ(run({"restore", "Docs", "/nothing/here"}).code, kExitBadUsage);
    EXPECT_EQ(run({"restore", "Nobody", "/x"}).code, kExitBadUsage);
    EXPECT_EQ(run({"sessions", "Nobody"}).code, kExitBadUsage);
}

}  // namespace
}  // namespace kestrel
