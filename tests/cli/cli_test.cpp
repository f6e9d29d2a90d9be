// kestrel-cli in this process: its commands, what it refuses, and what it changes in a job.
#include "cli/command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive/format.h"
#include "cli/run_cli.h"
#include "platform/fs.h"
#include "runner/run_lock.h"

namespace kestrel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Args = std::vector<std::string>;

using CliTest = test::CliFixture<>;

TEST_F(CliTest, HelpExplainsEveryCommandAndOption) {
    const std::vector<std::pair<Args, std::vector<const char*>>> helps = {
        {{"--help"},
         {"list", "show", "new", "edit", "delete", "run", "sessions", "ls", "restore", "catalogue",
          "verify", "ftp-ls", "ftp-mkdir", "--home"}},
        {{"new", "--help"},
         {"--source", "--dest", "--ftp", "--type", "--storage", "--split", "--include", "--exclude",
          "--password", "--schedule"}},
        {{"edit", "--help"},
         {"--current-password", "--name", "--source", "--dest", "--ftp-passive", "--no-ftp",
          "--no-split", "--no-password", "--schedule-from", "--reset-protection"}},
    };
    for (const auto& [args, words] : helps) {
        const test::CliResult r = cli(args);
        EXPECT_EQ(r.code, 0);
        for (const char* word : words) {
            EXPECT_THAT(r.out, HasSubstr(word)) << args[0];
        }
    }
}

TEST_F(CliTest, BadArgumentsExitWithTwoAndStoreNothing) {
    const std::string src = data.write("src/a.txt", "hello");
    const std::string dir = data.path();
    const std::vector<std::pair<Args, std::string>> refused = {
        {{}, ""},
        {{"frobnicate"}, ""},
        {{"show"}, ""},
        {{"show", "nobody"}, ""},
        {{"delete", "nobody"}, ""},
        {{"run", "Nobody"}, "No backup named Nobody!"},
        {{"edit", "Nobody", "--type", "full"}, "No backup named Nobody!"},
        {{"new", "--source", data.file("nope"), "--dest", dir}, "no such file or folder"},
        {{"new", "--source", src, "--dest", data.file("nope")},
         "Destination directory does not exists!"},
        {{"new", "--source", src, "--dest", dir, "--type", "weekly"}, ""},
        {{"new", "--source", src, "--dest", dir, "--storage", "copy", "--split", "10M"}, ""},
        {{"new", "--source", src, "--dest", dir, "--schedule", "daily:xyz@08:00"}, ""},
        {{"new", "--source", src, "--dest", dir, "--schedule", "hourly:60"}, ""},
        {{"new", "--source", src, "--ftp", "host", "--storage", "copy", "--dest", "/b"},
         "You can't use this option with ftp destination!"},
    };
    for (const auto& [args, says] : refused) {
        const test::CliResult r = cli(args);
        EXPECT_EQ(r.code, kExitBadUsage) << ::testing::PrintToString(args);
        EXPECT_THAT(r.err, HasSubstr(says));
    }
    EXPECT_EQ(cli({"list"}).out, "No jobs.\n");
}

TEST_F(CliTest, NewListShowAndDeleteOnAFreshProgramFolder) {
    data.write("src/docs/a.txt", "hello");
    const std::string file = data.write("src/single.bin", "1234567");
    test::CliResult r =
        cli({"new", "--source", data.file("src/docs"), "--source", file, "--dest", data.path(),
             "--type", "incremental", "--storage", "compressed", "--split", "2M", "--exclude",
             "*.tmp", "--schedule", "daily:mon,fri@08:00", "--schedule-from", "2026-12-06 10:00"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Created job \"New backup 1\".\n");

    r = cli({"new", "--name", "off-site", "--source", data.file("src/docs"), "--ftp",
             "ftp.example.org", "--ftp-user", "u", "--ftp-password", "pw", "--dest", "/backups"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Created job \"offsite\".\n");  // "-" is removed from names
    r = cli({"new", "--name", "offsite", "--source", file, "--dest", data.path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("Backup name already exists!"));

    r = cli({"list"});
    ASSERT_EQ(r.code, 0);
    // The schedule starts counting on Sunday 6 December at 10:00: its first run is the Monday.
    for (const char* shown : {"New backup 1", "Incremental", "ftp://u@ftp.example.org:21/backups",
                              "Never", "NEXT RUN", "Monday, Dec 07 at 08:00", "Not scheduled"}) {
        EXPECT_THAT(r.out, HasSubstr(shown));
    }
    r = cli({"show", "New backup 1"});
    ASSERT_EQ(r.code, 0);
    for (const std::string& shown : {std::string("Compressed archive, volumes of 2097152 bytes"),
                                     std::string("daily:mon,fri@08:00, from 2026-12-06 10:00"),
                                     "  folder  " + data.file("src/docs"),
                                     "  file    " + file + " (7 bytes)", std::string("*.tmp")}) {
        EXPECT_THAT(r.out, HasSubstr(shown));
    }
    EXPECT_THAT(cli({"show", "offsite"}).out, Not(HasSubstr("pw")));

    EXPECT_EQ(cli({"delete", "offsite"}).code, 0);
    EXPECT_EQ(cli({"show", "offsite"}).code, 2);
    EXPECT_THAT(cli({"list"}).out, Not(HasSubstr("offsite")));

    ASSERT_EQ(
        cli({"new", "--name", "Safe", "--source", file, "--dest", data.path(), "--password", "pw1"})
            .code,
        0);
    r = cli({"delete", "Safe"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.err, HasSubstr("Wrong password for deleting Safe!"));
    EXPECT_EQ(cli({"delete", "Safe", "--password", "wrong"}).code, 2);
    r = cli({"delete", "Safe", "--password", "pw1"});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.err, HasSubstr("Password OK for deleting Safe!"));
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
    const std::string job = "[Backups]\r\nDocs\r\n[Docs]\r\nDestination=/d\r\nDir0001=/src\r\n";
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "a section the list lacks" : "NULs before the list");
        const std::string content =
            readable ? job + "[Pics]\r\nDestination=/p\r\n" : std::string(3, '\0') + job;
        const int code = readable ? kExitOk : kExitFailed;
        for (const auto& [name, stored] : storeFiles(home.path())) {
            std::filesystem::remove(home.file(name));
        }
        home.write("backups.ini", content);
        const test::CliResult list = cli({"list"});
        const test::CliResult show = cli({"show", "Docs"});
        EXPECT_EQ(list.code, code) << list.err;
        EXPECT_EQ(show.code, code) << show.err;
        EXPECT_THAT(list.out, Not(HasSubstr("No jobs.")));
        EXPECT_THAT(readable ? list.out : list.err, HasSubstr(readable ? "Docs" : store));
        EXPECT_THAT(readable ? show.out : show.err, HasSubstr(readable ? "  folder  /src" : store));
        if (!readable) {
            EXPECT_THAT(cli({"edit", "Docs", "--dest", data.path()}).err,
                        HasSubstr("Not one job of the job store " + store));
        }
        EXPECT_EQ(storeFiles(home.path()),
                  (std::map<std::string, std::string>{{"backups.ini", content}}));

        for (const char* name : {"One", "Two"}) {
            const test::CliResult r =
                cli({"new", "--name", name, "--source", src, "--dest", data.path()});
            EXPECT_EQ(r.code, code) << r.err;
            EXPECT_THAT(r.err, HasSubstr(readable ? "" : "Not one job of the job store " + store));
        }
        // A store that can be read is kept once before it is rewritten; one that cannot is not
        // rewritten.
        size_t copies = 0;
        for (const auto& [name, stored] : storeFiles(home.path())) {
            copies += name.find(".damaged-") != std::string::npos && stored == content ? 1 : 0;
        }
        EXPECT_EQ(copies, readable ? 1u : 0u);
        if (!readable) {
            EXPECT_EQ(test::readAll(store), content);
            continue;
        }
        const std::string listed = cli({"list"}).out;
        for (const char* name : {"Docs", "One", "Two"}) {
            EXPECT_THAT(listed, HasSubstr(name)) << name;
        }
    }
}

TEST_F(CliTest, RunCatalogueAndVerifyASplitSetAndReportTheOutcome) {
    for (int i = 0; i < 4; ++i) {
        data.write("src/file " + std::to_string(i), test::noise("file", i, 2000 + i));
    }
    std::filesystem::create_directories(data.file("dest"));
    ASSERT_EQ(cli({"new", "--name", "Docs", "--source", data.file("src"), "--dest",
                   data.file("dest"), "--storage", "compressed", "--split", "3K"})
                  .code,
              0);
    test::CliResult r = cli({"run", "Docs"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_THAT(r.err, HasSubstr("*   Backup files stored:  4"));
    EXPECT_THAT(r.err, HasSubstr("*   Total backup files count: 4"));
    EXPECT_THAT(r.err, HasSubstr("Backup of Docs finished succesfully!"));
    EXPECT_THAT(cli({"list"}).out, HasSubstr("OK"));

    const std::string set = data.file("dest/Docs.fs");
    r = cli({"catalogue", set});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("1 session(s), 4 file(s)"));
    EXPECT_THAT(r.out, HasSubstr("Session 2006-01-15 19:30:05: 4 file(s), 8,006 bytes"));
    EXPECT_THAT(r.out, HasSubstr(data.file("src/file 3")));
    r = cli({"verify", set});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Verified 4 file(s): 4 OK, 0 failed."));

    // Cut the last volume short: verify names the damaged file.
    std::string last = "Docs";
    while (fs::exists(data.file("dest/" + nextVolumeName(last) + ".uxarc"))) {
        last = nextVolumeName(last);
    }
    ASSERT_NE(last, "Docs");
    std::filesystem::resize_file(data.file("dest/" + last + ".uxarc"), 30);
    r = cli({"verify", set});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_THAT(r.out, HasSubstr("FAIL "));
    EXPECT_THAT(r.out, HasSubstr("failed."));
    EXPECT_EQ(cli({"catalogue", data.file("nothing.fs")}).code, kExitFailed);
    EXPECT_EQ(cli({"verify", set, "--plain", "--compressed"}).code, kExitBadUsage);

    // A source gone since the job was made fails the run, and the job shows it.
    ASSERT_EQ(cli({"new", "--name", "Broken", "--source", data.file("src/file 0"), "--dest",
                   data.file("dest"), "--storage", "copy"})
                  .code,
              0);
    std::filesystem::remove(data.file("src/file 0"));
    EXPECT_EQ(cli({"run", "Broken"}).code, kExitFailed);
    EXPECT_THAT(cli({"show", "Broken"}).out, HasSubstr("failed"));
}

TEST_F(CliTest, SessionsLsAndRestore) {
    const std::string a = data.write("src/a.txt", "alpha");
    data.write("src/sub/b.txt", "beta");
    std::filesystem::create_directories(data.file("dest"));
    ASSERT_EQ(cli({"new", "--name", "Docs", "--source", data.file("src"), "--dest",
                   data.file("dest"), "--storage", "archive", "--type", "incremental"})
                  .code,
              0);
    ASSERT_EQ(cli({"run", "Docs"}).code, 0);
    clock.advanceSeconds(120);
    std::ofstream(a) << "alpha 2";
    ASSERT_EQ(cli({"run", "Docs"}).code, 0);

    test::CliResult r = cli({"sessions", "Docs"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("20060115193005  2006-01-15 19:30:05  2"));
    EXPECT_THAT(r.out, HasSubstr("20060115193205  2006-01-15 19:32:05  1"));

    r = cli({"ls", "Docs", data.file("src"), "--session", "20060115193005"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("a.txt"));
    EXPECT_THAT(r.out, HasSubstr("sub/"));
    EXPECT_EQ(cli({"ls", "Docs", "/no/such/folder"}).code, kExitBadUsage);
    EXPECT_EQ(cli({"ls", "Docs", "--session", "2006"}).code, kExitBadUsage);

    // Without a session every file comes from the newest session that holds it.
    r = cli({"restore", "Docs", data.file("src"), "--to", data.file("out")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(data.file("out") + a), "alpha 2");
    EXPECT_EQ(test::readAll(data.file("out") + data.file("src/sub/b.txt")), "beta");
    EXPECT_THAT(r.err, HasSubstr("2/2 files restored to " + data.file("out") + "!"));

    r = cli({"restore", "Docs", a, "--session", "20060115193005"});
    EXPECT_EQ(r.code, kExitFailed);  // the file exists and nobody answered yes
    EXPECT_EQ(test::readAll(a), "alpha 2");
    EXPECT_THAT(
        r.err,
        HasSubstr("None of the 1 chosen files could be restored (0 failed, 1 kept): see the log."));
    r = cli({"restore", "Docs", a, "--session", "20060115193005", "--overwrite"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(a), "alpha");
    EXPECT_THAT(r.err, HasSubstr("1/1 files restored to their original folders!"));

    EXPECT_EQ(cli({"restore", "Docs", "/nothing/here"}).code, kExitBadUsage);
    EXPECT_EQ(cli({"restore", "Nobody", "/x"}).code, kExitBadUsage);
    EXPECT_EQ(cli({"sessions", "Nobody"}).code, kExitBadUsage);
}

// A backup another process runs holds the run lock: runs and changes of its job are refused;
// the reading commands work beside it and leave its files in the temporary folder alone.
TEST_F(CliTest, ARunLockHeldElsewhereRefusesRunsAndChangesButNotReadingCommands) {
    const std::string a = data.write("tree/a.txt", "alpha");
    std::filesystem::create_directories(data.file("dest"));
    ASSERT_EQ(cli({"new", "--name", "Docs", "--source", data.file("tree"), "--dest",
                   data.file("dest"), "--storage", "archive"})
                  .code,
              0);
    ASSERT_EQ(cli({"run", "Docs"}).code, 0);
    const std::string before = cli({"show", "Docs"}).out;
    RunLock other(home.file("run.lock"));
    ASSERT_EQ(other.acquire("Docs", nullptr), RunLock::Result::Acquired);
    const std::string busy = home.write("temp/Docs.uxarc", "being written");

    test::CliResult r = cli({"run", "Docs"});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_THAT(r.err,
                HasSubstr("Another Kestrel program is running a backup in this program folder "
                          "(Docs, process "));
    r = cli({"edit", "Docs", "--type", "full"});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_THAT(r.err, HasSubstr("The backup Docs is running and can't be changed now!"));
    EXPECT_EQ(cli({"show", "Docs"}).out, before);
    EXPECT_EQ(cli({"sessions", "Docs"}).code, 0);
    r = cli({"restore", "Docs", a, "--to", data.file("out")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readAll(data.file("out") + a), "alpha");
    EXPECT_EQ(cli({"list"}).code, 0);
    // The readers left no working folder behind.
    EXPECT_EQ(test::readAll(busy), "being written");
    EXPECT_EQ(fs::listDir(home.file("temp"))->size(), 1u);

    other.release();
    EXPECT_EQ(cli({"edit", "Docs", "--type", "full"}).code, 0);
    EXPECT_EQ(cli({"run", "Docs"}).code, 0);
}

class EditTest : public test::CliFixture<> {
protected:
    std::string show(const std::string& job) {
        const test::CliResult r = cli({"show", job});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }
    static bool has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
    std::string log() const { return test::readAll(home.file("logs/kestrel.log")); }

    void SetUp() override {
        a = data.write("src/a.txt", "alpha");
        b = data.write("src/b.txt", "bravo!");
        std::filesystem::create_directories(data.file("dest"));
        const test::CliResult r =
            cli({"new", "--name", "Docs", "--source", a, "--source", b, "--dest", data.file("dest"),
                 "--type", "incremental", "--exclude", "*.tmp", "--split", "2M", "--schedule",
                 "daily:mon,fri@08:00", "--schedule-from", "2026-12-06 10:00"});
        ASSERT_EQ(r.code, 0) << r.err;
    }

    std::string a;
    std::string b;
};

TEST_F(EditTest, ChangesOnlyWhatIsGivenAndRemovesTheSchedule) {
    test::CliResult r =
        cli({"edit", "Docs", "--schedule", "hourly:15", "--schedule-from", "2027-01-02 03:04"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Changed job \"Docs\".\n");
    std::string shown = show("Docs");
    EXPECT_TRUE(has(shown, "hourly:15, from 2027-01-02 03:04")) << shown;
    EXPECT_TRUE(has(shown, "Incremental"));
    EXPECT_TRUE(has(shown, "volumes of 2097152 bytes"));
    EXPECT_TRUE(has(shown, "*.tmp"));
    EXPECT_TRUE(has(shown, "Sources:       2"));

    // The start alone moves; the kind stays.
    ASSERT_EQ(cli({"edit", "Docs", "--schedule-from", "2028-05-06 07:08"}).code, 0);
    EXPECT_TRUE(has(show("Docs"), "hourly:15, from 2028-05-06 07:08"));

    ASSERT_EQ(cli({"edit", "Docs", "--schedule", "none", "--exclude", ""}).code, 0);
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "Schedule:      none\n")) << shown;
    EXPECT_TRUE(has(shown, "Exclude mask:  \n"));

    r = cli({"edit", "Docs", "--schedule-from", "2028-05-06 07:08"});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "the job has no schedule"));

    r = cli({"edit", "Docs", "--no-split", "--type", "full", "--storage", "archive"});
    ASSERT_EQ(r.code, 0) << r.err;
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "Storage:       Archive\n")) << shown;
    EXPECT_TRUE(has(shown, "Type:          Full"));
}

TEST_F(EditTest, RenamesButNotOntoAnotherJobsName) {
    ASSERT_EQ(cli({"new", "--name", "Other", "--source", a, "--dest", data.path()}).code, 0);
    test::CliResult r = cli({"edit", "Docs", "--name", "Papers-2"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Changed job \"Docs\", now named \"Papers2\".\n");
    EXPECT_EQ(cli({"show", "Docs"}).code, kExitBadUsage);
    EXPECT_TRUE(has(show("Papers2"), "daily:mon,fri@08:00"));

    r = cli({"edit", "Papers2", "--name", "other"});  // names differ in case only
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "Backup name already exists!"));
    EXPECT_EQ(cli({"show", "Papers2"}).code, 0);
    EXPECT_TRUE(has(show("Other"), "Sources:       1"));
}

TEST_F(EditTest, GivenSourcesReplaceAllOfThem) {
    const std::string folder = data.file("src");
    ASSERT_EQ(cli({"edit", "Docs", "--source", folder}).code, 0);
    const std::string shown = show("Docs");
    EXPECT_TRUE(has(shown, "Sources:       1\n  folder  " + folder + "\n")) << shown;
    EXPECT_FALSE(has(shown, a));
}

TEST_F(EditTest, RefusedValuesLeaveTheJobAsItWas) {
    const std::string before = show("Docs");
    const std::vector<std::vector<std::string>> refused = {
        {"--type", "weekly"},
        {"--storage", "tape"},
        {"--storage", "copy"},  // the job still splits, which copies cannot
        {"--split", "0"},
        {"--split", "2048M"},
        {"--split", "1M", "--no-split"},
        {"--schedule", "daily:xyz@08:00"},
        {"--schedule", "hourly:60"},
        {"--schedule-from", "tomorrow"},
        {"--source", data.file("nope")},
        {"--source", data.file("src/a.txt"), "--source", data.file("src/a.txt")},
        {"--dest", data.file("nope")},
        {"--name", ""},
        {"--ftp-user", "u"},  // a local destination
        {"--ftp", ""},
        {"--password", "x", "--no-password"},
        {"--type", "full", "--current-password"},
    };
    for (const auto& options : refused) {
        std::vector<std::string> args = {"edit", "Docs"};
        args.insert(args.end(), options.begin(), options.end());
        const test::CliResult r = cli(args);
        EXPECT_EQ(r.code, kExitBadUsage) << options.front() << ": " << r.err;
        EXPECT_FALSE(r.err.empty()) << options.front();
    }
    EXPECT_EQ(show("Docs"), before);
    EXPECT_FALSE(has(log(), "Modifing"));  // refusals came before any change
}

TEST_F(EditTest, MovesTheDestinationToAnFtpServerAndBack) {
    ASSERT_EQ(cli({"edit", "Docs", "--ftp", "ftp.example.org", "--ftp-user", "u", "--ftp-password",
                   "secret", "--dest", "/backups"})
                  .code,
              0);
    std::string shown = show("Docs");
    EXPECT_TRUE(has(shown, "ftp://u@ftp.example.org:21/backups")) << shown;
    EXPECT_TRUE(has(shown, "FTP mode:      passive"));

    // What is not given stays as the FTP record has it.
    ASSERT_EQ(cli({"edit", "Docs", "--ftp-port", "2121", "--ftp-active"}).code, 0);
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "ftp://u@ftp.example.org:2121/backups")) << shown;
    EXPECT_TRUE(has(shown, "FTP mode:      active"));
    EXPECT_EQ(cli({"edit", "Docs", "--ftp-port", "65536"}).code, kExitBadUsage);
    EXPECT_EQ(cli({"edit", "Docs", "--ftp-active", "--ftp-passive"}).code, kExitBadUsage);
    EXPECT_EQ(cli({"edit", "Docs", "--no-ftp", "--ftp", "h", "--dest", data.path()}).code,
              kExitBadUsage);
    EXPECT_EQ(cli({"edit", "Docs", "--no-ftp"}).code, kExitBadUsage);  // no local folder given
    EXPECT_EQ(show("Docs"), shown);

    ASSERT_EQ(cli({"edit", "Docs", "--no-ftp", "--dest", data.file("dest")}).code, 0);
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "Destination:   " + data.file("dest") + "\n")) << shown;
    EXPECT_FALSE(has(shown, "FTP mode"));
}

TEST_F(EditTest, AProtectedJobNeedsItsCurrentPassword) {
    ASSERT_EQ(cli({"edit", "Docs", "--password", "pw1"}).code, 0);  // not protected yet
    EXPECT_TRUE(has(show("Docs"), "Protected:     yes"));
    const std::string before = show("Docs");
    const size_t logStart = log().size();

    test::CliResult r = cli({"edit", "Docs", "--current-password", "pw2", "--exclude", "*.bak"});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "kestrel-cli: Wrong password for editing Docs!"));
    std::string logged = log().substr(logStart);
    EXPECT_TRUE(has(logged, "Requesting for password for editing Docs ..."));
    EXPECT_TRUE(has(logged, "Wrong password for editing Docs!"));
    EXPECT_FALSE(has(logged, "Modifing"));
    EXPECT_EQ(show("Docs"), before);

    r = cli({"edit", "Docs", "--current-password", "pw1", "--exclude", "*.bak"});
    ASSERT_EQ(r.code, 0) << r.err;
    logged = log().substr(logStart);
    const size_t ok = logged.find("Password OK for editing Docs!");
    ASSERT_NE(ok, std::string::npos);
    EXPECT_LT(logged.find("Requesting for password"), ok);
    EXPECT_GT(logged.find("Modifing Docs parameters ..."), ok);
    EXPECT_TRUE(has(show("Docs"), "*.bak"));

    // A new password replaces the old one.
    ASSERT_EQ(cli({"edit", "Docs", "--current-password", "pw1", "--password", "pw3"}).code, 0);
    EXPECT_EQ(cli({"edit", "Docs", "--current-password", "pw1", "--no-password"}).code,
              kExitBadUsage);
    ASSERT_EQ(cli({"edit", "Docs", "--current-password", "pw3", "--no-password"}).code, 0);
    EXPECT_TRUE(has(show("Docs"), "Protected:     no"));
    EXPECT_EQ(cli({"edit", "Docs", "--type", "full"}).code, 0);  // nothing is asked now
}

// A job whose stored password cannot be read is shown locked and refused by every command that
// would run, change, delete or restore it (exit 1), leaving the store as it is, until edit sets
// a new password with --reset-protection.
TEST_F(EditTest, AJobWhosePasswordCannotBeReadIsLockedUntilItGetsANewOne) {
    ASSERT_EQ(cli({"edit", "Docs", "--password", "pw1"}).code, 0);
    const std::string store = home.file("backups.ini");
    const std::string healthy = test::readAll(store);
    const size_t at = healthy.find("Protected=") + std::string("Protected=").size();
    const std::string locked = "The backup Docs is locked: its password in the job store cannot";
    // The store tests read every kind of damaged value; one is enough for the commands.
    std::string content = healthy;
    content.replace(at, content.find("\r\n", at) - at, "97,abc");
    std::ofstream(store, std::ios::binary) << content;

    test::CliResult r = cli({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(has(r.out, "locked\n") && has(r.out, locked)) << r.out;
    EXPECT_TRUE(has(show("Docs"), "Protected:     yes, locked"));
    const std::vector<std::vector<std::string>> refused = {
        {"run", "Docs"},
        {"edit", "Docs", "--exclude", "*.bak"},
        {"edit", "Docs", "--current-password", "pw1", "--no-password"},
        {"delete", "Docs"},
        {"delete", "Docs", "--password", "pw1"},
        {"sessions", "Docs"},
        {"restore", "Docs", a},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args[0] + " " + args.back());
        r = cli(args);
        EXPECT_EQ(r.code, kExitFailed);
        EXPECT_TRUE(has(r.err, locked)) << r.err;
    }
    // The confirmation takes the new password alone.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"edit", "Docs", "--reset-protection"},
          {"edit", "Docs", "--reset-protection", "--password", "new", "--exclude", "*.x"},
          {"edit", "Docs", "--reset-protection", "--password", "new", "--no-split"}}) {
        EXPECT_EQ(cli(args).code, kExitBadUsage);
    }
    EXPECT_TRUE(std::filesystem::is_empty(data.file("dest")));
    EXPECT_EQ(test::readAll(store), content);

    // Confirmed, with the password from standard input: unlocked, and its runs encrypted.
    test::CliResult set = cli({"edit", "Docs", "--password", "-", "--reset-protection"}, "new\n");
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_TRUE(has(set.out, "The backup Docs has a new password and is no longer locked."));
    EXPECT_TRUE(has(show("Docs"), "Protected:     yes\n"));
    EXPECT_EQ(cli({"edit", "Docs", "--reset-protection", "--password", "x"}).code, kExitBadUsage);
    set = cli({"run", "Docs"}, "");
    ASSERT_EQ(set.code, 0) << set.err;
    std::string stored;
    for (const auto& e : std::filesystem::recursive_directory_iterator(data.file("dest"))) {
        if (e.is_regular_file()) {
            stored += test::readAll(e.path().string());
        }
    }
    EXPECT_FALSE(stored.empty());
    EXPECT_FALSE(has(stored, "alpha") || has(stored, "bravo!"));
}

TEST_F(EditTest, PasswordsFromStandardInput) {
    ASSERT_EQ(cli({"edit", "Docs", "--password", "pw1"}).code, 0);

    // Not given: asked for on the error stream and read from standard input.
    test::CliResult r = cli({"edit", "Docs", "--exclude", "*.old"}, "pw1\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(has(r.err, "Password of \"Docs\": "));
    EXPECT_TRUE(has(show("Docs"), "*.old"));

    r = cli({"edit", "Docs", "--exclude", "*.new"}, "pw9\n");
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "Wrong password for editing Docs!"));
    r = cli({"edit", "Docs", "--exclude", "*.new"}, "");
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "no password on standard input"));
    EXPECT_FALSE(has(show("Docs"), "*.new"));

    // Lines are taken in turn: the current password, then the new one.
    r = cli({"edit", "Docs", "--current-password", "-", "--password", "-"}, "pw1\npw2\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(cli({"edit", "Docs", "--current-password", "pw1", "--type", "full"}).code,
              kExitBadUsage);
    // An empty line would remove the protection unasked.
    r = cli({"edit", "Docs", "--current-password", "-", "--password", "-"}, "pw2\n\n");
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "the new password is empty"));
    EXPECT_EQ(cli({"edit", "Docs", "--current-password", "pw2", "--type", "full"}).code, 0);
}

}  // namespace
}  // namespace kestrel
