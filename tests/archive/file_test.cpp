#include "archive/file.h"

#include <gtest/gtest.h>

#include <limits>

#include "archive_support.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

TEST(ClsFile, OpenModesCreateOrFail) {
    test::TestContext t;
    clsFile f(&t.ctx->control);
    EXPECT_EQ(f.fOpen(t.dir.file("new.bin"), clsFile::Mode::Write), clsFile::OpenResult::Ok);
    EXPECT_TRUE(f.fClose());
    EXPECT_TRUE(fs::exists(t.dir.file("new.bin")));
    EXPECT_EQ(f.fOpen(t.dir.file("missing.bin"), clsFile::Mode::Read), clsFile::OpenResult::Failed);
    EXPECT_TRUE(t.loggedContaining("ERROR:clsFile.fOpen()->"));
    EXPECT_TRUE(t.loggedContaining("---" + t.dir.file("missing.bin")));
}

TEST(ClsFile, ReadsAtTheEndAndPadsWrites) {
    test::TempDir dir;
    const std::string path = dir.write("f", std::string(1000, 'x'));
    clsFile f;
    ASSERT_EQ(f.fOpen(path, clsFile::Mode::ReadWrite), clsFile::OpenResult::Ok);
    EXPECT_EQ(f.filesize, 1000);
    std::string data = "old";
    EXPECT_EQ(f.fRead(data, 512, 1000), 0);
    EXPECT_EQ(data, "");
    EXPECT_EQ(f.fRead(data, 512, 900), 100);
    EXPECT_EQ(data, std::string(100, 'x'));
    EXPECT_EQ(f.fWrite("abc", 8, 10), 8);
    EXPECT_EQ(f.fWrite("too long", 3, 0), 0);
    // A read sees what was written before it.
    EXPECT_EQ(f.fRead(data, 10, 8), 10);
    EXPECT_EQ(data, std::string("xxabc\0\0\0\0\0", 10));
    f.TruncateFile(0);
    EXPECT_EQ(*fs::fileSize(path), 1000);
    f.TruncateFile(10);
    EXPECT_TRUE(f.fClose());
    EXPECT_EQ(test::readAll(path), std::string("xxxxxxxxxx"));
}

TEST(ClsFile, CompressedStreamsAppendMembersAndReadAcrossThem) {
    test::TempDir dir;
    const std::string path = dir.file("v.gz");
    clsFile f;
    f.bCompressed = true;
    ASSERT_EQ(f.fOpen(path, clsFile::Mode::Write), clsFile::OpenResult::Ok);
    EXPECT_EQ(f.fWrite("first", 512, 0), 512);
    EXPECT_TRUE(f.fClose());
    ASSERT_EQ(f.fOpen(path, clsFile::Mode::Write), clsFile::OpenResult::Ok);
    EXPECT_EQ(f.fWrite("second", 512, 12345), 512);  // the position is not used
    f.TruncateFile(10);                              // nothing to cut in a stream
    EXPECT_TRUE(f.fClose());

    const std::string plain = test::gunzip(path);
    ASSERT_EQ(plain.size(), 1024u);
    EXPECT_EQ(plain.substr(512, 6), "second");
    ASSERT_EQ(f.fOpen(path, clsFile::Mode::Read), clsFile::OpenResult::Ok);
    std::string data;
    EXPECT_EQ(f.fRead(data, 512, 512), 512);
    EXPECT_EQ(data.substr(0, 7), std::string("second\0", 7));
    EXPECT_EQ(f.fRead(data, 512, 0), 512);  // backwards works too
    EXPECT_EQ(data.substr(0, 5), "first");
    EXPECT_EQ(f.fRead(data, 512, 1024), 0);
    EXPECT_TRUE(f.fClose());
}

TEST(ClsFile, ReadsAtTheLargestOffsetsFindNothing) {
    test::TempDir dir;
    const std::string path = dir.write("f", std::string(1000, 'x'));
    clsFile f;
    ASSERT_EQ(f.fOpen(path, clsFile::Mode::Read), clsFile::OpenResult::Ok);
    std::string data;
    constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(f.fRead(data, 512, kLargest), 0);
    EXPECT_EQ(f.fRead(data, 512, kLargest - 100), 0);
    EXPECT_EQ(data, "");
    EXPECT_EQ(f.fRead(data, 10, 995), 5);
    // Served from what was read ahead: the check against it must not overflow either.
    EXPECT_EQ(f.fRead(data, 512, kLargest - 10), 0);
    EXPECT_EQ(f.fRead(data, 10, 0), 10);
    EXPECT_EQ(data, std::string(10, 'x'));
}

}  // namespace
}  // namespace kestrel
