#include "engine/encryption.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

TEST(Encryption, EncryptsAndDecryptsInPlaceThroughTheTool) {
    test::TestContext t(true);
    const std::string file = t.dir.write("temp/Docs.fs", "catalogue line\r\n");
    std::string error;
    ASSERT_TRUE(EncryptFile(*t.ctx, file, "secret", &error)) << error;
    EXPECT_NE(test::readAll(file), "catalogue line\r\n");
    EXPECT_FALSE(fs::exists(file + ".ue"));
    ASSERT_TRUE(DecryptFile(*t.ctx, file, "secret", &error)) << error;
    EXPECT_EQ(test::readAll(file), "catalogue line\r\n");
    EXPECT_FALSE(t.host.progressTitles.empty());
}

TEST(Encryption, FailuresAreReportedAndLeaveNothingUnderTheName) {
    test::TestContext t(true);
    const std::string file = t.dir.write("temp/v.uxarc", "volume");
    ASSERT_TRUE(EncryptFile(*t.ctx, file, "right"));
    std::string error;
    EXPECT_FALSE(DecryptFile(*t.ctx, file, "wrong", &error));
    EXPECT_NE(error.find("wrong password"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(file + ".ue"));
    EXPECT_FALSE(DecryptFile(*t.ctx, t.dir.file("temp/none"), "x", &error));

    test::TestContext bare;  // no tool to be found
    const std::string plain = bare.dir.write("temp/p", "x");
    EXPECT_FALSE(EncryptFile(*bare.ctx, plain, "x", &error));
    EXPECT_NE(error.find("bin/bfish"), std::string::npos);
    EXPECT_EQ(test::readAll(plain), "x");
}

}  // namespace
}  // namespace kestrel
