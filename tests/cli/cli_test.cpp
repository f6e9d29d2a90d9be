#include "cli/cli_app.h"
#include "cli/command.h"
#include "cli/run_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "archive/archive.h"
#include "core/app_context.h"
#include "platform/fs.h"
#include "runner/run_lock.h"
#include "support/fake_clock.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

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
        EXPECT_THAT(r.out, HasSubstr(command)) << command;
    }
    const Result newHelp = run({"new", "--help"});
    EXPECT_EQ(newHelp.code, 0);
    for (const char* option : {"--source", "--dest", "--ftp", "--type", "--storage", "--split",
                               "--include", "--exclude", "--password", "--schedule"}) {
        EXPECT_THAT(newHelp.out, HasSubstr(option));
    }
    const Result editHelp = run({"edit", "--help"});
    EXPECT_EQ(editHelp.code, 0);
    for (const char* option :
         {"--current-password", "--name", "--source", "--dest", "--ftp-passive", "--no-ftp",
          "--no-split", "--no-password", "--schedule-from", "--reset-protection"}) {
        EXPECT_THAT(editHelp.out, HasSubstr(option));
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
    EXPECT_THAT(missingSource.err, HasSubstr("no such file or folder"));
    const Result missingDest = run({"new", "--source", src, "--dest", data.file("nope")});
    EXPECT_EQ(missingDest.code, kExitBadUsage);
    EXPECT_THAT(missingDest.err, HasSubstr("Destination directory does not exists!"));
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
    EXPECT_THAT(ftpCopy.err, HasSubstr("You can't use this option with ftp destination!"));
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
    EXPECT_THAT(r.err, HasSubstr("Backup name already exists!"));

    r = run({"list"});
    ASSERT_EQ(r.code, 0);
    EXPECT_THAT(r.out, HasSubstr("New backup 1"));
    EXPECT_THAT(r.out, HasSubstr("Incremental"));
    EXPECT_THAT(r.out, HasSubstr("ftp://u@ftp.example.org:21/backups"));
    EXPECT_THAT(r.out, HasSubstr("Never"));
    // The schedule starts counting on Sunday 6 December at 10:00: its first run is the Monday.
    EXPECT_THAT(r.out, HasSubstr("NEXT RUN"));
    EXPECT_THAT(r.out, HasSubstr("Monday, Dec 07 at 08:00"));
    EXPECT_THAT(r.out, HasSubstr("Not scheduled"));

    r = run({"show", "New backup 1"});
    ASSERT_EQ(r.code, 0);
    EXPECT_THAT(r.out, HasSubstr("Compressed archive, volumes of 2097152 bytes"));
    EXPECT_THAT(r.out, HasSubstr("daily:mon,fri@08:00, from 2026-12-06 10:00"));
    EXPECT_THAT(r.out, HasSubstr("  folder  " + data.file("src/docs")));
    EXPECT_THAT(r.out, HasSubstr("  file    " + file + " (7 bytes)"));
    EXPECT_THAT(r.out, HasSubstr("*.tmp"));
    EXPECT_THAT(r.out, Not(HasSubstr("pw")));

    EXPECT_EQ(run({"delete", "offsite"}).code, 0);
    EXPECT_EQ(run({"show", "offsite"}).code, 2);
    EXPECT_THAT(run({"list"}).out, Not(HasSubstr("offsite")));
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
            EXPECT_THAT(list.out, Not(HasSubstr("No jobs.")));
            if (c.readCode == kExitOk) {
                EXPECT_THAT(list.out, HasSubstr("Docs"));
                EXPECT_THAT(show.out, HasSubstr("  folder  /src"));
            } else {
                EXPECT_THAT(list.err, HasSubstr(store));
                EXPECT_THAT(show.err, HasSubstr(store));
                const Result edit = run({"edit", "Docs", "--dest", data.path()});
                EXPECT_THAT(edit.err, HasSubstr("Not one job of the job store " + store));
            }
        }
        EXPECT_EQ(storeFiles(home.path()),
                  (std::map<std::string, std::string>{{"backups.ini", c.content}}));

        for (const char* name : {"One", "Two"}) {
            const Result r = run({"new", "--name", name, "--source", src, "--dest", data.path()});
            EXPECT_EQ(r.code, c.newCode) << r.err;
            if (c.newCode != kExitOk) {
                EXPECT_THAT(r.err, HasSubstr("Not one job of the job store " + store));
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
            EXPECT_THAT(list.out, HasSubstr(name)) << name;
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
    EXPECT_THAT(r.err, HasSubstr("Wrong password for deleting Safe!"));
    EXPECT_EQ(run({"delete", "Safe", "--password", "wrong"}).code, 2);
    r = run({"delete", "Safe", "--password", "pw1"});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.err, HasSubstr("Password OK for deleting Safe!"));
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
        ASSERT_EQ(archive.AddFileToArchive(*clsDskFile::fromPath(path), false),
                  clsArchive::AddResult::Added);
    }
    ASSERT_TRUE(archive.CloseArchive());
    const std::string fs = data.file("temp/Daily.fs");

    Result r = run({"catalogue", fs});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("1 session(s), 4 file(s)"));
    EXPECT_THAT(r.out, HasSubstr("Session 2026-01-05 14:30:12: 4 file(s), 8,006 bytes"));
    EXPECT_THAT(r.out, HasSubstr(data.file("src/file 3")));

    r = run({"verify", fs});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Verified 4 file(s): 4 OK, 0 failed."));

    // Cut the last volume short: verify names the damaged file.
    std::string last = "Daily";
    while (kestrel::fs::exists(data.file("temp/" + nextVolumeName(last) + ".uxarc"))) {
        last = nextVolumeName(last);
    }
    ASSERT_NE(last, "Daily");
    std::filesystem::resize_file(data.file("temp/" + last + ".uxarc"), 30);
    r = run({"verify", fs});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_THAT(r.out, HasSubstr("FAIL "));
    EXPECT_THAT(r.out, HasSubstr("failed."));

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
    EXPECT_THAT(r.err, HasSubstr("*   Backup files stored:  2"));
    EXPECT_THAT(r.err, HasSubstr("*   Total backup files count: 2"));
    EXPECT_THAT(r.err, HasSubstr("Backup of Docs finished succesfully!"));
    EXPECT_TRUE(std::filesystem::exists(data.file("dest/Docs.uxarc")));
    EXPECT_THAT(run({"list"}).out, HasSubstr("OK"));
    EXPECT_EQ(run({"verify", data.file("dest/Docs.fs")}).code, kExitOk);

    r = run({"run", "Nobody"});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_THAT(r.err, HasSubstr("No backup named Nobody!"));

    ASSERT_EQ(run({"new", "--name", "Broken", "--source", data.file("src/a.txt"), "--dest",
                   data.file("dest"), "--storage", "copy"})
                  .code,
              0);
    std::filesystem::remove(data.file("src/a.txt"));
    EXPECT_EQ(run({"run", "Broken"}).code, kExitFailed);
    EXPECT_THAT(run({"show", "Broken"}).out, HasSubstr("failed"));
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
    EXPECT_THAT(r.out, HasSubstr("20060115193005  2006-01-15 19:30:05  2"));
    EXPECT_THAT(r.out, HasSubstr("20060115193205  2006-01-15 19:32:05  1"));

    r = run({"ls", "Docs", data.file("src"), "--session", "20060115193005"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("a.txt"));
    EXPECT_THAT(r.out, HasSubstr("sub/"));
    EXPECT_EQ(run({"ls", "Docs", "/no/such/folder"}).code, kExitBadUsage);
    EXPECT_EQ(run({"ls", "Docs", "--session", "2006"}).code, kExitBadUsage);

    // Without a session every file comes from the newest session that holds it.
    r = run({"restore", "Docs", data.file("src"), "--to", data.file("out")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(data.file("out") + a), "alpha 2");
    EXPECT_EQ(test::readAll(data.file("out") + data.file("src/sub/b.txt")), "beta");
    EXPECT_THAT(r.err, HasSubstr("2/2 files restored to " + data.file("out") + "!"));

    r = run({"restore", "Docs", a, "--session", "20060115193005"});
    EXPECT_EQ(r.code, kExitFailed);  // the file exists and nobody answered yes
    EXPECT_EQ(test::readAll(a), "alpha 2");
    EXPECT_THAT(
        r.err,
        HasSubstr("None of the 1 chosen files could be restored (0 failed, 1 kept): see the log."));
    r = run({"restore", "Docs", a, "--session", "20060115193005", "--overwrite"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(a), "alpha");
    EXPECT_THAT(r.err, HasSubstr("1/1 files restored to their original folders!"));

    EXPECT_EQ(run({"restore", "Docs", "/nothing/here"}).code, kExitBadUsage);
    EXPECT_EQ(run({"restore", "Nobody", "/x"}).code, kExitBadUsage);
    EXPECT_EQ(run({"sessions", "Nobody"}).code, kExitBadUsage);
}

// A backup another process runs holds the run lock: runs and changes of its job are refused;
// the reading commands work beside it and leave its files in the temporary folder alone.
TEST_F(CliTest, ARunLockHeldElsewhereRefusesRunsAndChangesButNotReadingCommands) {
    const std::string a = data.write("tree/a.txt", "alpha");
    std::filesystem::create_directories(data.file("dest"));
    ASSERT_EQ(run({"new", "--name", "Docs", "--source", data.file("tree"), "--dest",
                   data.file("dest"), "--storage", "archive"})
                  .code,
              0);
    ASSERT_EQ(run({"run", "Docs"}).code, 0);
    const std::string before = run({"show", "Docs"}).out;
    RunLock other(home.file("run.lock"));
    ASSERT_EQ(other.acquire("Docs", nullptr), RunLock::Result::Acquired);
    const std::string busy = home.write("temp/Docs.uxarc", "being written");

    Result r = run({"run", "Docs"});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_THAT(r.err,
                HasSubstr("Another Kestrel program is running a backup in this program folder "
                          "(Docs, process "));
    r = run({"edit", "Docs", "--type", "full"});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_THAT(r.err, HasSubstr("The backup Docs is running and can't be changed now!"));
    EXPECT_EQ(run({"show", "Docs"}).out, before);
    EXPECT_EQ(run({"sessions", "Docs"}).code, 0);
    r = run({"restore", "Docs", a, "--to", data.file("out")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(data.file("out") + a), "alpha");
    EXPECT_EQ(run({"list"}).code, 0);
    // The readers left no working folder behind.
    EXPECT_EQ(test::readAll(busy), "being written");
    EXPECT_EQ(fs::listDir(home.file("temp"))->size(), 1u);

    other.release();
    EXPECT_EQ(run({"edit", "Docs", "--type", "full"}).code, 0);
    EXPECT_EQ(run({"run", "Docs"}).code, 0);
}

}  // namespace
}  // namespace kestrel
