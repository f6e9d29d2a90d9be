#include "ftp/reply_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

std::vector<ReplyFramer::Reply> frame(const std::vector<std::string>& reads, std::string& rest) {
    ReplyFramer framer;
    std::vector<ReplyFramer::Reply> replies;
    for (const std::string& piece : reads) {
        framer.append(piece);
        while (auto reply = framer.take()) {
            replies.push_back(std::move(*reply));
        }
    }
    rest = framer.pending();
    return replies;
}

// A multi-line reply ends at its code and a blank; a cut anywhere, also inside a line or between
// its CR and LF, frames the same replies, and a partial line waits for its end.
TEST(ReplyFramer, MultiLineRepliesFramedAlikeWhereverTheReadsAreCut) {
    const std::string banner =
        "noise\r\n220-220 looks like an end but is not\r\n220-second\r\n 220 indented\r\n"
        "220 ready\r\n";
    const std::string text = banner +
                             "331 Password please\r\n230-Welcome\r\n text without a code\r\n"
                             "230 Logged in\r\n257 \"/\"\n21";
    std::string restOnce;
    const auto once = frame({text}, restOnce);
    ASSERT_EQ(once.size(), 4u);
    EXPECT_EQ(once[0].code, 220);
    EXPECT_EQ(once[0].line, "220 ready");
    EXPECT_EQ(once[0].whole, banner);
    EXPECT_EQ(once[1].code, 331);
    EXPECT_EQ(once[1].line, "331 Password please");
    EXPECT_EQ(once[2].line, "230 Logged in");
    EXPECT_EQ(once[3].code, 257);
    EXPECT_EQ(restOnce, "21");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        std::string rest;
        const auto split = frame({text.substr(0, cut), text.substr(cut)}, rest);
        ASSERT_EQ(split.size(), once.size()) << cut;
        for (size_t i = 0; i < once.size(); ++i) {
            EXPECT_EQ(split[i].code, once[i].code) << cut;
            EXPECT_EQ(split[i].line, once[i].line) << cut;
            EXPECT_EQ(split[i].whole, once[i].whole) << cut;
        }
        EXPECT_EQ(rest, restOnce) << cut;
    }
}

}  // namespace
}  // namespace kestrel
