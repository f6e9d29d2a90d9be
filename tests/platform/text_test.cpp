#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

// Lines as "text|number|terminated".
std::vector<std::string> linesOf(std::string_view content) {
    std::vector<std::string> out;
    text::LineReader reader(content);
    for (text::Line line; reader.next(line);) {
        out.push_back(std::string(line.text) + "|" + std::to_string(line.number) + "|" +
                      (line.terminated ? "t" : "cut"));
    }
    return out;
}

TEST(TextTest, LinesEndInLfOrCrLfAndTheLastMayBeCut) {
    using V = std::vector<std::string>;
    const struct {
        std::string content;
        V lines;
    } cases[] = {
        {"", {}},
        {"a", {"a|1|cut"}},
        {"a\n", {"a|1|t"}},
        {"a\r\nb\n", {"a|1|t", "b|2|t"}},
        {"\n\r\n", {"|1|t", "|2|t"}},
        {"a\rb\r", {"a\rb|1|cut"}},  // only a CR at the end belongs to the line end
        {std::string("x\0y\nz", 5), {std::string("x\0y|1|t", 7), "z|2|cut"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(linesOf(c.content), c.lines) << c.content;
    }
}

}  // namespace
}  // namespace kestrel
