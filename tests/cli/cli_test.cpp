// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-cli in this process: its commands, what it refuses, and what it changes in a job.
#include "cli/command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/run_cli.h"

namespace kestrel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Args = std::vector<std::string>;

using CliTest = test::CliFixture<>;

TEST_F(CliTest, BadArgumentsExitWithTwoAndStoreNothing) {
    const std::string src = data.write("src/a.txt", "hello");
    const std::string dir = data.path();
    const std::vector<std::pair<Args, std::string>> refused = {
        {{}, ""},
        {{"frobnicate"}, ""},
        {{"show", "nobody"}, ""},
        {{"run", "Nobody"}, "No backup named Nobody!"},
        {{"edit", "Nobody", "--type", "full"}, "No backup named Nobody!"},
        {{"restore", "Nobody", "/x"}, ""},
        {{"new", "--source", data.file("nope"), "--dest", dir}, "no such file or folder"},
        {{"new", "--source", src, "--dest", data.file("nope")},
         "Destination directory does not exists!"},
        {{"new", "--source", src, "--ftp", "host", "--storage", "copy", "--dest", "/b"},
         "You can't use this option with ftp destination!"},
    };
    for (const auto& [args, says] : refused) {
        const test::CliResult r = cli(args);
        EXPECT_EQ(r.code, kExitBadUsage) << ::testing::PrintToString(args);
        EXPECT_THAT(r.err, HasSubstr(says));
    }
    for (const char* option : {"--version", "-V"}) {
        const test::CliResult r = cli({option, "list"});
        EXPECT_EQ(r.code, kExitOk);
        EXPECT_THAT(r.out, ::testing::MatchesRegex("kestrel-cli [0-9]+\\.[0-9]+\\.[0-9]+\n"));
    }
    EXPECT_EQ(cli({"list"}).out, "No jobs.\n");
    EXPECT_EQ(cli({"catalogue", data.file("nothing.fs")}).code, kExitFailed);
    EXPECT_EQ(cli({"verify", data.file("nothing.fs")}).code, kExitFailed);
}

// The FTP password is never shown.
TEST_F(CliTest, NewShowAndDeleteKeepTheFtpPasswordToThemselves) {
    const std::string file = data.write("src/single.bin", "1234567");
    test::CliResult r =
        cli({"new", "--name", "off-site", "--source", file, "--ftp", "ftp.example.org",
             "--ftp-user", "u", "--ftp-password", "pw", "--dest", "/backups"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Created job \"offsite\".\n");  // "-" is removed from names
    r = cli({"new", "--name", "offsite", "--source", file, "--dest", data.path()});
    EXPECT_EQ(r.code, kExitBadUsage);
    EXPECT_THAT(r.err, HasSubstr("Backup name already exists!"));
    EXPECT_THAT(cli({"show", "offsite"}).out, Not(HasSubstr("pw")));
    EXPECT_THAT(cli({"list"}).out, Not(HasSubstr("pw")));
    EXPECT_EQ(cli({"delete", "offsite"}).code, 0);
    EXPECT_EQ(cli({"show", "offsite"}).code, kExitBadUsage);
}

// The TLS choice and pin are taken, shown and changed; a pin is stored in one form; plain FTP
// beyond the local network is warned about, on the loopback it is not.
TEST_F(CliTest, FtpTlsAndPinAreKeptShownAndPlainFtpOffTheLocalNetworkIsWarnedAbout) {
    const std::string file = data.write("src/a.txt", "a");
    std::string colons = "SHA256:AB";  // the same pin as abPin, as a browser shows it
    std::string abPin = "ab";
    for (int i = 1; i < 32; ++i) {
        colons += ":AB";
        abPin += "ab";
    }
    const std::string pin(64, 'a');
    const Args base = {"new", "--source", file, "--dest", "/b", "--ftp-user", "u"};
    const struct {
        Args more;
        int code;
        std::string err;
    } cases[] = {
        {{"--name", "tls", "--ftp", "::1", "--ftp-tls", "required", "--ftp-tls-pin", colons},
         kExitOk,
         ""},
        {{"--name", "near", "--ftp", "127.0.0.1"}, kExitOk, ""},
        {{"--name", "far", "--ftp", "192.0.2.7"}, kExitOk, "travel unencrypted to 192.0.2.7"},
        {{"--name", "x", "--ftp", "h", "--ftp-tls", "maybe"}, kExitBadUsage, "off or required"},
        {{"--name", "x", "--ftp", "h", "--ftp-tls", "required", "--ftp-tls-pin", pin + "a"},
         kExitBadUsage,
         "expected a SHA-256 fingerprint"},
        {{"--name", "x", "--ftp", "h", "--ftp-tls-pin", pin}, kExitBadUsage, "--ftp-tls required"},
        {{"--name", "x", "--ftp-tls", "required"}, kExitBadUsage, "the FTP options are for"},
    };
    for (const auto& c : cases) {
        Args args = base;
        args.insert(args.end(), c.more.begin(), c.more.end());
        const test::CliResult r = cli(args);
        EXPECT_EQ(r.code, c.code) << ::testing::PrintToString(c.more) << r.err;
        if (c.err.empty()) {
            EXPECT_THAT(r.err, Not(HasSubstr("warning")));
        } else {
            EXPECT_THAT(r.err, HasSubstr(c.err));
        }
    }
    EXPECT_THAT(cli({"show", "tls"}).out,
                HasSubstr("FTP TLS:       required\nTLS pin:       " + abPin));
    EXPECT_THAT(cli({"list"}).out, HasSubstr("ftpes://u@[::1]:21/b"));
    EXPECT_THAT(cli({"show", "near"}).out, HasSubstr("FTP TLS:       off\n"));
    // Turning TLS off while a pin is kept is refused; removing the pin first works.
    EXPECT_EQ(cli({"edit", "tls", "--ftp-tls", "off"}).code, kExitBadUsage);
    ASSERT_EQ(cli({"edit", "tls", "--ftp-tls-pin", "none", "--ftp-tls", "off"}).code, kExitOk);
    EXPECT_THAT(cli({"show", "tls"}).out, Not(HasSubstr("TLS pin:")));
    ASSERT_EQ(cli({"edit", "far", "--ftp-tls", "required"}).code, kExitOk);
    EXPECT_THAT(cli({"show", "far"}).out, HasSubstr("FTP TLS:       required\n"));
}

class EditTest : public test::CliFixture<> {
protected:
    std::string show(const std::string& job) {
        const test::CliResult r = cli({"show", job});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }

    void SetUp() override {
        a = data.write("src/a.txt", "alpha");
        data.write("src/b.txt", "bravo!");
        std::filesystem::create_directories(data.file("dest"));
        const test::CliResult r =
            cli({"new", "--name", "Docs", "--source", a, "--source", data.file("src/b.txt"),
                 "--dest", data.file("dest"), "--type", "incremental", "--exclude", "*.tmp",
                 "--split", "2M", "--schedule", "daily:mon,fri@08:00"});
        ASSERT_EQ(r.code, 0) << r.err;
    }

    std::string a;
};

TEST_F(EditTest, ChangesOnlyWhatIsGivenAndGivenSourcesReplaceAllOfThem) {
    test::CliResult r =
        cli({"edit", "Docs", "--schedule", "hourly:15", "--schedule-from", "2027-01-02 03:04"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string shown = show("Docs");
    for (const char* kept : {"hourly:15, from 2027-01-02 03:04", "Incremental",
                             "volumes of 2097152 bytes", "*.tmp", "Sources:       2"}) {
        EXPECT_THAT(shown, HasSubstr(kept));
    }
    ASSERT_EQ(cli({"edit", "Docs", "--schedule", "none", "--source", data.file("src")}).code, 0);
    shown = show("Docs");
    EXPECT_THAT(shown, HasSubstr("Schedule:      none\n"));
    EXPECT_THAT(shown, HasSubstr("Sources:       1\n  folder  " + data.file("src") + "\n"));
    EXPECT_THAT(shown, Not(HasSubstr(a)));
}

TEST_F(EditTest, RefusedValuesLeaveTheJobAsItWas) {
    const std::string before = show("Docs");
    const std::vector<Args> refused = {
        {"--type", "weekly"},
        {"--storage", "tape"},
        {"--storage", "copy"},  // the job still splits, which copies cannot
        {"--split", "0"},
        {"--split", "1M", "--no-split"},
        {"--schedule", "daily:xyz@08:00"},
        {"--schedule-from", "tomorrow"},
        {"--source", data.file("nope")},
        {"--source", data.file("src/a.txt"), "--source", data.file("src/a.txt")},
        {"--dest", data.file("nope")},
        {"--name", ""},
        {"--ftp-user", "u"},  // a local destination
        {"--ftp", ""},
        {"--password", "x", "--no-password"},
        {"--type", "full", "--current-password"},
        {"--ftp-port", "65536"},
        {"--ftp-active", "--ftp-passive"},
        {"--no-ftp", "--ftp", "h", "--dest", data.path()},
        {"--reset-protection", "--password", "x"},  // the job is not locked
    };
    for (const auto& options : refused) {
        Args args = {"edit", "Docs"};
        args.insert(args.end(), options.begin(), options.end());
        const test::CliResult r = cli(args);
        EXPECT_EQ(r.code, kExitBadUsage) << options.front() << ": " << r.err;
        EXPECT_FALSE(r.err.empty()) << options.front();
    }
    EXPECT_EQ(show("Docs"), before);
    EXPECT_THAT(test::readAll(home.file("logs/kestrel.log")), Not(HasSubstr("Modifing")));
}

// Given as options or read line by line from standard input (asked for on the error stream).
TEST_F(EditTest, AProtectedJobNeedsItsCurrentPassword) {
    ASSERT_EQ(cli({"edit", "Docs", "--password", "pw1"}).code, 0);  // not protected yet
    const std::string before = show("Docs");
    EXPECT_THAT(before, HasSubstr("Protected:     yes"));
    const struct {
        Args args;
        std::string stdinText;
        const char* says;
    } refused[] = {
        {{"--current-password", "pw2"}, "", "kestrel-cli: Wrong password for editing Docs!"},
        {{}, "pw9\n", "Wrong password for editing Docs!"},
        {{}, "", "no password on standard input"},
        {{"--current-password", "-", "--password", "-"}, "pw1\n\n", "the new password is empty"},
    };
    for (const auto& [args, stdinText, says] : refused) {
        Args edit = {"edit", "Docs", "--exclude", "*.bak"};
        edit.insert(edit.end(), args.begin(), args.end());
        const test::CliResult r = cli(edit, stdinText);
        EXPECT_EQ(r.code, kExitBadUsage) << says;
        EXPECT_THAT(r.err, HasSubstr(says));
        EXPECT_EQ(show("Docs"), before);
    }
    test::CliResult r = cli({"edit", "Docs", "--exclude", "*.old"}, "pw1\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(show("Docs"), HasSubstr("*.old"));

    // Lines are taken in turn: the current password, then the new one.
    r = cli({"edit", "Docs", "--current-password", "-", "--password", "-"}, "pw1\npw2\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(cli({"edit", "Docs", "--current-password", "pw1", "--no-password"}).code,
              kExitBadUsage);
    ASSERT_EQ(cli({"edit", "Docs", "--current-password", "pw2", "--no-password"}).code, 0);
    EXPECT_THAT(show("Docs"), HasSubstr("Protected:     no"));
    EXPECT_EQ(cli({"edit", "Docs", "--type", "full"}).code, 0);  // nothing is asked now
}

}  // namespace
}  // namespace kestrel
