// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/fs.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

const std::string kStamp = "[2006 Jan 15 19:30:05]-";

class LogTest : public ::testing::Test {
protected:
    test::TestContext t;
    Log& log() { return t.ctx->log; }
    void makeLogOfSize(const std::string& path, std::int64_t size) {
        std::filesystem::create_directories(fs::parentOf(path));
        std::filesystem::resize_file(t.dir.write(path.substr(t.home().size() + 1), ""),
                                     static_cast<std::uintmax_t>(size));
    }
};

TEST_F(LogTest, RotatesOnlyAboveFiveMillionBytesToTheFirstFreeNumber) {
    makeLogOfSize(log().filePath(), Log::kRotateAbove);
    log().WriteLog("still here");
    EXPECT_FALSE(fs::exists(log().rotatedPath(1)));
    makeLogOfSize(log().rotatedPath(1), 1);
    log().WriteLog("rotated");
    EXPECT_EQ(*fs::fileSize(log().rotatedPath(2)), Log::kRotateAbove + 35);
    EXPECT_EQ(*fs::fileSize(log().rotatedPath(1)), 1);
    EXPECT_EQ(t.logFile(), kStamp + "rotated\r\n");
}

TEST_F(LogTest, AFileSetAsideOrRemovedByAnotherProcessIsNotWrittenOn) {
    log().WriteLog("first");
    // Another instance rotates the log, then someone deletes the logs folder.
    ASSERT_TRUE(fs::renameFile(log().filePath(), log().rotatedPath(1)));
    log().WriteLog("second");
    EXPECT_EQ(*fs::readFile(log().rotatedPath(1)), kStamp + "first\r\n");
    EXPECT_EQ(t.logFile(), kStamp + "second\r\n");
    std::filesystem::remove_all(fs::parentOf(log().filePath()));
    log().WriteLog("third");
    // An entry the other process appended meanwhile stays between ours.
    ASSERT_TRUE(fs::appendToFile(log().filePath(), "other\r\n", 0644));
    log().WriteLog("fourth");
    EXPECT_EQ(t.logFile(), kStamp + "third\r\nother\r\n" + kStamp + "fourth\r\n");
}

// Lines held back reach the file and the host in order: before any other entry, once a second
// has passed, once 64 KB have gathered, and at flush.
TEST_F(LogTest, BatchedLinesAreHeldBackUntilAnotherEntryASecondOrAFlush) {
    t.clock.holdTicks();
    auto shown = [&] { return t.host.logLines.size(); };
    log().WriteLogBatched("one");
    log().WriteLogBatched("two");
    EXPECT_EQ(t.logFile(), "");
    EXPECT_EQ(shown(), 0u);
    log().WriteLog("FAIL: three");
    EXPECT_EQ(t.logFile(), kStamp + "one\r\n" + kStamp + "two\r\n" + kStamp + "FAIL: three\r\n");
    EXPECT_EQ(shown(), 3u);
    EXPECT_EQ(t.host.logLines.front(), kStamp + "one");

    log().WriteLogBatched("four");
    t.clock.advanceMs(999);
    log().flushIfDue();
    EXPECT_EQ(shown(), 3u);
    t.clock.advanceMs(1);
    log().flushIfDue();
    EXPECT_EQ(shown(), 4u);

    const std::string longLine(1000, 'x');
    size_t written = 0;
    while (shown() == 4u && written < 100) {
        log().WriteLogBatched(longLine);
        ++written;
    }
    EXPECT_EQ(written * (kStamp.size() + longLine.size()) / 1024, 64u) << "flushed at 64 KB";
    log().WriteLogBatched("last");
    log().flush();
    EXPECT_EQ(log().lines().back(), kStamp + "last");
    const std::string file = t.logFile();
    EXPECT_EQ(static_cast<size_t>(std::count(file.begin(), file.end(), '\n')), 4 + written + 1);
    EXPECT_TRUE(file.ends_with(kStamp + "last\r\n"));
}

}  // namespace
}  // namespace kestrel
