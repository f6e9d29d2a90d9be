#include "cli/cli_app.h"
#include "cli/command.h"
#include "cli/run_cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

class EditTest : public ::testing::Test {
protected:
    using Result = test::CliResult;

    Result run(std::vector<std::string> args) {
        return test::runCliIn(home.path(), std::move(args), clock);
    }
    Result cli(std::vector<std::string> args, const std::string& stdinText) {
        return test::runCliIn(home.path(), std::move(args), clock, stdinText);
    }
    std::string show(const std::string& job) {
        const Result r = run({"show", job});
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
        const Result r =
            run({"new", "--name", "Docs", "--source", a, "--source", b, "--dest", data.file("dest"),
                 "--type", "incremental", "--exclude", "*.tmp", "--split", "2M", "--schedule",
                 "daily:mon,fri@08:00", "--schedule-from", "2026-12-06 10:00"});
        ASSERT_EQ(r.code, 0) << r.err;
    }

    test::TempDir home;
    test::TempDir data;
    test::FakeClock clock;
    std::string a;
    std::string b;
};

TEST_F(EditTest, ChangesOnlyWhatIsGivenAndRemovesTheSchedule) {
    Result r =
        run({"edit", "Docs", "--schedule", "hourly:15", "--schedule-from", "2027-01-02 03:04"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Changed job \"Docs\".\n");
    std::string shown = show("Docs");
    EXPECT_TRUE(has(shown, "hourly:15, from 2027-01-02 03:04")) << shown;
    EXPECT_TRUE(has(shown, "Incremental"));
    EXPECT_TRUE(has(shown, "volumes of 2097152 bytes"));
    EXPECT_TRUE(has(shown, "*.tmp"));
    EXPECT_TRUE(has(shown, "Sources:       2"));

    // The start alone moves; the kind stays.
    ASSERT_EQ(run({"edit", "Docs", "--schedule-from", "2028-05-06 07:08"}).code, 0);
    EXPECT_TRUE(has(show("Docs"), "hourly:15, from 2028-05-06 07:08"));

    ASSERT_EQ(run({"edit", "Docs", "--schedule", "none", "--exclude", ""}).code, 0);
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "Schedule:      none\n")) << shown;
    EXPECT_TRUE(has(shown, "Exclude mask:  \n"));

    r = run({"edit", "Docs", "--schedule-from", "2028-05-06 07:08"});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "the job has no schedule"));

    r = run({"edit", "Docs", "--no-split", "--type", "full", "--storage", "archive"});
    ASSERT_EQ(r.code, 0) << r.err;
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "Storage:       Archive\n")) << shown;
    EXPECT_TRUE(has(shown, "Type:          Full"));
}

TEST_F(EditTest, RenamesButNotOntoAnotherJobsName) {
    ASSERT_EQ(run({"new", "--name", "Other", "--source", a, "--dest", data.path()}).code, 0);
    Result r = run({"edit", "Docs", "--name", "Papers-2"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Changed job \"Docs\", now named \"Papers2\".\n");
    EXPECT_EQ(run({"show", "Docs"}).code, kExitBadUsage);
    EXPECT_TRUE(has(show("Papers2"), "daily:mon,fri@08:00"));

    r = run({"edit", "Papers2", "--name", "other"});  // names differ in case only
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "Backup name already exists!"));
    EXPECT_EQ(run({"show", "Papers2"}).code, 0);
    EXPECT_TRUE(has(show("Other"), "Sources:       1"));

    r = run({"edit", "Nobody", "--type", "full"});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "No backup named Nobody!"));
}

TEST_F(EditTest, GivenSourcesReplaceAllOfThem) {
    const std::string folder = data.file("src");
    ASSERT_EQ(run({"edit", "Docs", "--source", folder}).code, 0);
    const std::string shown = show("Docs");
    EXPECT_TRUE(has(shown, "Sources:       1\n  folder  " + folder + "\n")) << shown;
    EXPECT_FALSE(has(shown, a));

    const Result twice = run({"edit", "Docs", "--source", a, "--source", a});
    EXPECT_EQ(twice.code, kExitBadUsage);
    EXPECT_EQ(show("Docs"), shown);
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
        const Result r = run(args);
        EXPECT_EQ(r.code, kExitBadUsage) << options.front() << ": " << r.err;
        EXPECT_FALSE(r.err.empty()) << options.front();
    }
    EXPECT_EQ(show("Docs"), before);
    EXPECT_FALSE(has(log(), "Modifing"));  // refusals came before any change
}

TEST_F(EditTest, MovesTheDestinationToAnFtpServerAndBack) {
    ASSERT_EQ(run({"edit", "Docs", "--ftp", "ftp.example.org", "--ftp-user", "u", "--ftp-password",
                   "secret", "--dest", "/backups"})
                  .code,
              0);
    std::string shown = show("Docs");
    EXPECT_TRUE(has(shown, "ftp://u@ftp.example.org:21/backups")) << shown;
    EXPECT_TRUE(has(shown, "FTP mode:      passive"));

    // What is not given stays as the FTP record has it.
    ASSERT_EQ(run({"edit", "Docs", "--ftp-port", "2121", "--ftp-active"}).code, 0);
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "ftp://u@ftp.example.org:2121/backups")) << shown;
    EXPECT_TRUE(has(shown, "FTP mode:      active"));
    EXPECT_EQ(run({"edit", "Docs", "--ftp-port", "65536"}).code, kExitBadUsage);
    EXPECT_EQ(run({"edit", "Docs", "--ftp-active", "--ftp-passive"}).code, kExitBadUsage);
    EXPECT_EQ(run({"edit", "Docs", "--no-ftp", "--ftp", "h", "--dest", data.path()}).code,
              kExitBadUsage);
    EXPECT_EQ(run({"edit", "Docs", "--no-ftp"}).code, kExitBadUsage);  // no local folder given
    EXPECT_EQ(show("Docs"), shown);

    ASSERT_EQ(run({"edit", "Docs", "--no-ftp", "--dest", data.file("dest")}).code, 0);
    shown = show("Docs");
    EXPECT_TRUE(has(shown, "Destination:   " + data.file("dest") + "\n")) << shown;
    EXPECT_FALSE(has(shown, "FTP mode"));
}

TEST_F(EditTest, AProtectedJobNeedsItsCurrentPassword) {
    ASSERT_EQ(run({"edit", "Docs", "--password", "pw1"}).code, 0);  // not protected yet
    EXPECT_TRUE(has(show("Docs"), "Protected:     yes"));
    const std::string before = show("Docs");
    const size_t logStart = log().size();

    Result r = run({"edit", "Docs", "--current-password", "pw2", "--exclude", "*.bak"});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "kestrel-cli: Wrong password for editing Docs!"));
    std::string logged = log().substr(logStart);
    EXPECT_TRUE(has(logged, "Requesting for password for editing Docs ..."));
    EXPECT_TRUE(has(logged, "Wrong password for editing Docs!"));
    EXPECT_FALSE(has(logged, "Modifing"));
    EXPECT_EQ(show("Docs"), before);

    r = run({"edit", "Docs", "--current-password", "pw1", "--exclude", "*.bak"});
    ASSERT_EQ(r.code, 0) << r.err;
    logged = log().substr(logStart);
    const size_t ok = logged.find("Password OK for editing Docs!");
    ASSERT_NE(ok, std::string::npos);
    EXPECT_LT(logged.find("Requesting for password"), ok);
    EXPECT_GT(logged.find("Modifing Docs parameters ..."), ok);
    EXPECT_TRUE(has(show("Docs"), "*.bak"));

    // A new password replaces the old one.
    ASSERT_EQ(run({"edit", "Docs", "--current-password", "pw1", "--password", "pw3"}).code, 0);
    EXPECT_EQ(run({"edit", "Docs", "--current-password", "pw1", "--no-password"}).code,
              kExitBadUsage);
    ASSERT_EQ(run({"edit", "Docs", "--current-password", "pw3", "--no-password"}).code, 0);
    EXPECT_TRUE(has(show("Docs"), "Protected:     no"));
    EXPECT_EQ(run({"edit", "Docs", "--type", "full"}).code, 0);  // nothing is asked now
}

// A job whose stored password cannot be read is shown locked and refused by every command that
// would run, change, delete or restore it (exit 1), leaving the store as it is, until edit sets
// a new password with --reset-protection.
TEST_F(EditTest, AJobWhosePasswordCannotBeReadIsLockedUntilItGetsANewOne) {
    ASSERT_EQ(run({"edit", "Docs", "--password", "pw1"}).code, 0);
    const std::string store = home.file("backups.ini");
    const std::string healthy = test::readAll(store);
    const size_t at = healthy.find("Protected=") + std::string("Protected=").size();
    const std::string locked = "The backup Docs is locked: its password in the job store cannot";
    for (const char* damaged : {"97,300,98", "97,abc", "97,,98", "97,98,"}) {
        SCOPED_TRACE(damaged);
        std::string content = healthy;
        content.replace(at, content.find("\r\n", at) - at, damaged);
        std::ofstream(store, std::ios::binary) << content;

        Result r = run({"list"});
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
            r = run(args);
            EXPECT_EQ(r.code, kExitFailed);
            EXPECT_TRUE(has(r.err, locked)) << r.err;
        }
        // The confirmation takes the new password alone.
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"edit", "Docs", "--reset-protection"},
              {"edit", "Docs", "--reset-protection", "--password", "new", "--exclude", "*.x"},
              {"edit", "Docs", "--reset-protection", "--password", "new", "--no-split"}}) {
            EXPECT_EQ(run(args).code, kExitBadUsage);
        }
        EXPECT_TRUE(std::filesystem::is_empty(data.file("dest")));
        EXPECT_EQ(test::readAll(store), content);

        // Confirmed, with the password from standard input: unlocked, and its runs encrypted.
        Result set = cli({"edit", "Docs", "--password", "-", "--reset-protection"}, "new\n");
        ASSERT_EQ(set.code, 0) << set.err;
        EXPECT_TRUE(has(set.out, "The backup Docs has a new password and is no longer locked."));
        EXPECT_TRUE(has(show("Docs"), "Protected:     yes\n"));
        EXPECT_EQ(run({"edit", "Docs", "--reset-protection", "--password", "x"}).code,
                  kExitBadUsage);
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
        std::filesystem::remove_all(data.file("dest"));
        std::filesystem::create_directories(data.file("dest"));
    }
}

TEST_F(EditTest, PasswordsFromStandardInput) {
    ASSERT_EQ(run({"edit", "Docs", "--password", "pw1"}).code, 0);

    // Not given: asked for on the error stream and read from standard input.
    Result r = cli({"edit", "Docs", "--exclude", "*.old"}, "pw1\n");
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
    EXPECT_EQ(run({"edit", "Docs", "--current-password", "pw1", "--type", "full"}).code,
              kExitBadUsage);
    // An empty line would remove the protection unasked.
    r = cli({"edit", "Docs", "--current-password", "-", "--password", "-"}, "pw2\n\n");
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_TRUE(has(r.err, "the new password is empty"));
    EXPECT_EQ(run({"edit", "Docs", "--current-password", "pw2", "--type", "full"}).code, 0);
}

}  // namespace
}  // namespace kestrel
