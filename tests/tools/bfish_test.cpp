#include <gtest/gtest.h>

#include <random>

#include "platform/fs.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

const std::string kTool = std::string(KESTREL_BINARY_DIR) + "/bin/bfish";

int bfish(std::vector<std::string> args) {
    args.insert(args.begin(), kTool);
    auto code = runProcess(args, nullptr);
    return code.value_or(-1);
}

std::string randomBytes(size_t n) {
    std::mt19937 gen(static_cast<unsigned>(n));
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(gen());
    }
    return s;
}

TEST(Bfish, RoundTripsEmptyTinyAndLargeFiles) {
    test::TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{5'000'000}}) {
        const std::string plain = randomBytes(size);
        const std::string in = dir.write("in", plain);
        ASSERT_EQ(bfish({"/i:\"" + in + "\"", "/o:\"" + dir.file("enc") + "\"", "/P:pass word",
                         "/e", "/q"}),
                  0);
        const std::string encrypted = test::readAll(dir.file("enc"));
        EXPECT_GT(encrypted.size(), plain.size());
        if (plain.size() >= 64) {
            EXPECT_EQ(encrypted.find(plain.substr(0, 64)), std::string::npos);
        }
        ASSERT_EQ(bfish({"/i:" + dir.file("enc"), "/o:" + dir.file("out"), "/P:pass word", "/d"}),
                  0);
        EXPECT_TRUE(test::readAll(dir.file("out")) == plain) << size;
    }
}

TEST(Bfish, AWrongPasswordOrDamagedFileWritesNothing) {
    test::TempDir dir;
    const std::string in = dir.write("in", randomBytes(200'000));
    ASSERT_EQ(bfish({"/i:" + in, "/o:" + dir.file("enc"), "/P:right", "/e", "/q"}), 0);
    EXPECT_EQ(bfish({"/i:" + dir.file("enc"), "/o:" + dir.file("out"), "/P:wrong", "/d", "/q"}), 3);
    EXPECT_FALSE(fs::exists(dir.file("out")));

    std::string damaged = test::readAll(dir.file("enc"));
    damaged[damaged.size() / 2] ^= 1;
    dir.write("damaged", damaged);
    EXPECT_EQ(bfish({"/i:" + dir.file("damaged"), "/o:" + dir.file("out"), "/P:right", "/d"}), 3);
    EXPECT_FALSE(fs::exists(dir.file("out")));
    // A stream cut short lacks its final chunk.
    dir.write("cut", test::readAll(dir.file("enc")).substr(0, 70'000));
    EXPECT_EQ(bfish({"/i:" + dir.file("cut"), "/o:" + dir.file("out"), "/P:right", "/d"}), 3);
    EXPECT_EQ(bfish({"/i:" + in, "/o:" + dir.file("out"), "/P:right", "/d"}), 3);  // not encrypted
    EXPECT_FALSE(fs::exists(dir.file("out")));
    EXPECT_EQ(fs::listDir(dir.path())->size(), 4u);  // no temporary files left either
}

TEST(Bfish, ArgumentsAndHelp) {
    test::TempDir dir;
    EXPECT_EQ(bfish({}), 1);
    EXPECT_EQ(bfish({"/i:x", "/o:y", "/e"}), 1);  // no password
    EXPECT_EQ(bfish({"/i:x", "/o:y", "/P:p", "/x"}), 1);
    EXPECT_EQ(bfish({"/i:" + dir.file("missing"), "/o:" + dir.file("o"), "/P:p", "/e"}), 2);
    EXPECT_EQ(bfish({"--help"}), 0);
}

}  // namespace
}  // namespace kestrel
