// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/encryption.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "engine/backup_run.h"
#include "jobs/backup.h"
#include "platform/fs.h"
#include "platform/program_folder.h"
#include "support/job_builder.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

// Counts, on a thread of its own, the arguments (open to any user) of processes started since it
// was made that hold the secret, and those of the tool.
class ArgumentWatch {
public:
    ArgumentWatch(std::string secret, std::string tool)
        : m_secret(std::move(secret)), m_tool(std::move(tool)), m_older(processes()) {
        m_thread = std::thread([this] {
            while (!m_stop) {
                for (const std::string& pid : processes()) {
                    // readAll gives "" for a process that ended meanwhile.
                    const std::string args =
                        m_older.count(pid) != 0 ? "" : test::readAll("/proc/" + pid + "/cmdline");
                    m_secretSeen += args.find(m_secret) != std::string::npos ? 1 : 0;
                    m_toolSeen += !args.empty() && args.rfind(m_tool, 0) == 0 ? 1 : 0;
                }
            }
        });
    }
    ~ArgumentWatch() { stop(); }
    void stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int secretSeen() const { return m_secretSeen; }
    int toolSeen() const { return m_toolSeen; }

private:
    static std::set<std::string> processes() {
        std::set<std::string> pids;
        std::error_code ec;
        for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string pid = it->path().filename();
            if (pid.find_first_not_of("0123456789") == std::string::npos) {
                pids.insert(pid);
            }
        }
        return pids;
    }

    const std::string m_secret;
    const std::string m_tool;
    const std::set<std::string> m_older;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_secretSeen{0};
    std::atomic<int> m_toolSeen{0};
    std::thread m_thread;
};

// Protected incremental runs and a failed decryption, while every process's arguments are watched.
TEST(Encryption, ThePasswordShowsInNoProcessArgumentsLogOrConsole) {
    test::TestContext t(true);
    test::TempDir src;
    test::TempDir dest;
    const std::string password = "Tern-7Kq-hatch-0x5f";
    const auto job = test::JobBuilder("Safe")
                         .folder(src.path())
                         .to(dest.path())
                         .archive()
                         .compressed()
                         .incremental()
                         .password(password)
                         .build();

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ArgumentWatch watch(password, *t.ctx->paths.findAsset("bin/bfish"));
    int failedRun = -1;
    // Until the watch has caught the tool at work a few times, so that it had its chance.
    for (int run = 0; run < 2 || (watch.toolSeen() < 3 && run < 40); ++run) {
        src.write("f" + std::to_string(run) + ".txt", std::string(100'000, 'x'));
        const RunSummary r = BackupJob(*t.ctx, *job, "Safe", {});
        t.clock.advanceSeconds(120);
        if (r.status != kStatusOk) {
            failedRun = run;  // told once the console is given back
            break;
        }
    }
    const std::string copy = t.dir.write("temp/Safe.fs", test::readAll(dest.file("Safe.fs")));
    EXPECT_FALSE(DecryptFile(t.ctx->control, encryptionTool(t.ctx->paths), copy, password + "x"));
    watch.stop();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(failedRun, -1);
    EXPECT_GT(watch.toolSeen(), 0);
    EXPECT_EQ(watch.secretSeen(), 0) << "of " << watch.toolSeen() << " sightings of the tool";
    EXPECT_EQ(out.find(password), std::string::npos) << out;
    EXPECT_EQ(err.find(password), std::string::npos) << err;
    EXPECT_NE(err.find("wrong password"), std::string::npos) << err;  // the console was heard
    EXPECT_FALSE(t.loggedContaining(password));
    EXPECT_EQ(t.logFile().find(password), std::string::npos);
    EXPECT_FALSE(t.host.logLines.empty());
}

// Passwords go over byte for byte through the real tool; a failure leaves nothing under the name.
TEST(Encryption, PasswordsOfAnyBytesButNulRoundTripInPlace) {
    test::TestContext t(true);
    const std::string tool = encryptionTool(t.ctx->paths);
    std::string every;
    for (int c = 1; c < 256; ++c) {
        every += static_cast<char>(c);
    }
    const std::pair<std::string, std::string> cases[] = {
        {"secret", "wrong"},  {"", "x"},      {"pass word", "pass  word"},
        {"ends\n", "ends"},   {"\n", ""},     {"-", "--"},
        {"two\n\n", "two\n"}, {"cr\r", "cr"}, {every, every.substr(1)},
    };
    for (const auto& [password, other] : cases) {
        SCOPED_TRACE(testing::PrintToString(password));
        const std::string file = t.dir.write("temp/Docs.fs", "catalogue line\r\n");
        std::string error;
        ASSERT_TRUE(EncryptFile(t.ctx->control, tool, file, password, &error)) << error;
        const std::string encrypted = test::readAll(file);
        EXPECT_NE(encrypted, "catalogue line\r\n");
        EXPECT_FALSE(fs::exists(file + ".ue"));
        EXPECT_FALSE(DecryptFile(t.ctx->control, tool, file, other, &error));
        EXPECT_NE(error.find("wrong password"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(file));
        EXPECT_FALSE(fs::exists(file + ".ue"));
        t.dir.write("temp/Docs.fs", encrypted);
        EXPECT_TRUE(DecryptFile(t.ctx->control, tool, file, password, &error)) << error;
        EXPECT_EQ(test::readAll(file), "catalogue line\r\n");
    }
    std::string error;
    EXPECT_FALSE(DecryptFile(t.ctx->control, tool, t.dir.file("temp/none"), "x", &error));
    // A NUL cannot be handed over: refused, and nothing stays under the name unencrypted.
    const std::string file = t.dir.write("temp/f", "content");
    EXPECT_FALSE(EncryptFile(t.ctx->control, tool, file, std::string("a\0b", 3), &error));
    EXPECT_NE(error.find("code 1"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(file));
}

// The program folder's own copy first, then the installation's private helper before a bfish in
// the bin folder beside it, which may be another package's.
TEST(Encryption, TheToolIsLookedForInTheProgramFolderThenAmongThePrivateHelpers) {
    const std::string helper = std::string("root/") + KESTREL_TOOL_DIR + "/bfish";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"root/bin/bfish"}, "root/bin/bfish"},
        {{"root/bin/bfish", helper}, helper},
        {{helper, "home/bin/bfish"}, "home/bin/bfish"},
        {{std::string("home/") + KESTREL_TOOL_DIR + "/bfish", "other/bin/bfish"}, ""},
    };
    for (const auto& [present, expected] : cases) {
        test::TempDir dir;
        for (const std::string& file : present) {
            dir.write(file, "");
        }
        const ProgramFolder folder(dir.file("home"), {dir.file("root")});
        EXPECT_EQ(encryptionTool(folder), expected.empty() ? "" : dir.file(expected))
            << testing::PrintToString(present);
    }
}

}  // namespace
}  // namespace kestrel
