#include "ftp/reply_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

std::vector<ReplyFramer::Reply> frame(const std::vector<std::string>& reads,
                                      std::string* rest = nullptr) {
    ReplyFramer framer;
    std::vector<ReplyFramer::Reply> replies;
    for (const std::string& piece : reads) {
        framer.append(piece);
        while (auto reply = framer.take()) {
            replies.push_back(std::move(*reply));
        }
    }
    if (rest != nullptr) {
        *rest = framer.pending();
    }
    return replies;
}

TEST(ReplyFramer, MultiLineRepliesEndAtTheirCodeAndABlank) {
    const std::string text =
        "noise\r\n220-220 looks like an end but is not\r\n220-second\r\n 220 indented\r\n"
        "220 ready\r\n331 Password please\r\n";
    const auto replies = frame({text});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].code, 220);
    EXPECT_EQ(replies[0].line, "220 ready");
    EXPECT_EQ(replies[0].whole, text.substr(0, text.find("331")));
    EXPECT_EQ(replies[1].code, 331);
    EXPECT_EQ(replies[1].line, "331 Password please");
}

// A cut anywhere, also inside a line or between its CR and LF, frames the same replies: a
// partial line waits for its end.
TEST(ReplyFramer, ReadsCutAnywhereFrameTheSameReplies) {
    const std::string text =
        "230-Welcome\r\n text without a code\r\n230 Logged in\r\n257 \"/\"\n21";
    std::string restOnce;
    const auto once = frame({text}, &restOnce);
    ASSERT_EQ(once.size(), 2u);
    EXPECT_EQ(restOnce, "21");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        std::string rest;
        const auto split = frame({text.substr(0, cut), text.substr(cut)}, &rest);
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
