// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "platform/unique_fd.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

int openNull() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

TEST(UniqueFdTest, EachDescriptorIsClosedOnceByItsLastOwnerAndAFailingCloseIsReported) {
    int first = -1;
    {
        UniqueFd owner(openNull());
        first = owner.get();
        ASSERT_TRUE(isOpen(first));
        UniqueFd moved(std::move(owner));
        EXPECT_FALSE(owner.valid());
        EXPECT_EQ(moved.get(), first);

        // Taking another descriptor closes the one held.
        UniqueFd other(openNull());
        const int second = other.get();
        moved = std::move(other);
        EXPECT_FALSE(isOpen(first));
        EXPECT_TRUE(isOpen(second));
        first = second;
    }
    EXPECT_FALSE(isOpen(first));

    // A released descriptor is the caller's; resetting to the same one keeps it open.
    UniqueFd kept(openNull());
    const int raw = kept.release();
    EXPECT_FALSE(kept.valid());
    kept.reset(raw);
    kept.reset(raw);
    EXPECT_TRUE(isOpen(raw));
    EXPECT_TRUE(kept.close());
    EXPECT_FALSE(isOpen(raw));
    EXPECT_TRUE(kept.close()) << "nothing held, nothing lost";

    // A failing close is reported.
    UniqueFd fd(openNull());
    ASSERT_EQ(::close(fd.get()), 0);  // closed behind its back
    EXPECT_FALSE(fd.close());
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(fd.valid());
}

auto openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

bool sigpipePending() {
    sigset_t pending;
    ::sigpending(&pending);
    return ::sigismember(&pending, SIGPIPE) == 1;
}

// Input beyond a pipe's buffer arrives whole; a program that stops reading hangs no writer.
TEST(RunProcessWithInput, HandsOverEveryByteOrWhatTheProgramTakes) {
    test::TempDir dir;
    const std::string big = test::noise(8 << 20, 7);
    const std::string out = dir.file("out");
    struct Case {
        std::string input;
        std::string script;
        std::string expected;
        int code;
    };
    const Case cases[] = {
        {"", "cat > \"$0\"", "", 0},        {"one line\n", "cat > \"$0\"", "one line\n", 0},
        {big, "cat > \"$0\"", big, 0},      {big, "head -c 10 > \"$0\"", big.substr(0, 10), 0},
        {big, ": > \"$0\"; exit 4", "", 4}, {big, "exec 0<&-; : > \"$0\"", "", 0},
    };
    const auto before = openDescriptors();
    for (const Case& c : cases) {
        std::string error;
        const auto code =
            runProcessWithInput({"/bin/sh", "-c", c.script, out}, c.input, nullptr, &error);
        EXPECT_EQ(code, c.code) << c.script << " " << error;
        EXPECT_TRUE(test::readAll(out) == c.expected) << c.script << " " << c.input.size();
        EXPECT_FALSE(sigpipePending());
    }
    std::string error;
    EXPECT_FALSE(runProcessWithInput({dir.file("missing")}, big, nullptr, &error));
    EXPECT_NE(error.find("cannot start"), std::string::npos) << error;
    EXPECT_EQ(openDescriptors(), before);
}

// A program gets standard input, output and error, never another descriptor this process holds.
TEST(RunProcessWithInput, TheProgramInheritsNoOtherDescriptor) {
    // ls holds one descriptor of its own, the folder it lists, on the lowest free number.
    auto listing = [](bool piped) {
        const std::vector<std::string> ls = {"/bin/ls", "/proc/self/fd"};
        testing::internal::CaptureStdout();
        const auto code = piped ? runProcessWithInput(ls, "in", nullptr) : runProcess(ls, nullptr);
        const std::string listed = testing::internal::GetCapturedStdout();
        return code == 0 ? listed : "ls failed";
    };
    const int stray = ::dup(2);
    ASSERT_GE(stray, 3);
    EXPECT_EQ(listing(false), "0\n1\n2\n3\n");
    EXPECT_EQ(listing(true), "0\n1\n2\n3\n");
    ::close(stray);
}

}  // namespace
}  // namespace kestrel
