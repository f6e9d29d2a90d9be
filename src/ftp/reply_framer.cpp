// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/reply_framer.h"

#include <cctype>
#include <string_view>

#include "platform/text.h"

namespace kestrel {
namespace {

bool startsWithCode(std::string_view line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2]));
}

}  // namespace

// A reply is complete at the line that starts with its code and a blank; "ddd-" lines and text
// without a code before it belong to it. A partial line waits for the next read.
std::optional<ReplyFramer::Reply> ReplyFramer::take() {
    size_t pos = 0;
    std::string code;
    while (true) {
        const size_t end = m_pending.find('\n', pos);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        std::string line = m_pending.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        pos = end + 1;
        if (code.empty()) {
            if (!startsWithCode(line)) {
                continue;  // noise before a reply
            }
            if (line.size() > 3 && line[3] == '-') {
                code = line.substr(0, 3);
                continue;
            }
        } else if (line.size() < 4 || line.compare(0, 3, code) != 0 || line[3] != ' ') {
            continue;
        }
        Reply reply;
        reply.code = static_cast<std::int32_t>(text::leadingInt(line.substr(0, 3)));
        reply.line = std::move(line);
        reply.whole = m_pending.substr(0, pos);
        m_pending.erase(0, pos);
        return reply;
    }
}

}  // namespace kestrel
