// SPDX-License-Identifier: GPL-3.0-or-later
// The control connection's bytes, as they arrive in reads cut anywhere. The first byte tells how
// many cuts (0 to 7), the next two bytes per cut where; the rest is what the server sent.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftp_connection.h"
#include "ftp/reply_framer.h"

namespace {

using kestrel::ReplyFramer;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool sameReplies(const std::vector<ReplyFramer::Reply>& a,
                 const std::vector<ReplyFramer::Reply>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.code == y.code && x.line == y.line && x.whole == y.whole;
    });
}

void takeAll(ReplyFramer& framer, std::vector<ReplyFramer::Reply>& replies) {
    while (auto reply = framer.take()) {
        replies.push_back(std::move(*reply));
    }
}

// What a framed reply must be: a last line that starts with its code and is not a "ddd-" line,
// at the end of the bytes it took.
void checkReply(const ReplyFramer::Reply& reply) {
    const std::string& line = reply.line;
    check(line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
          std::isdigit(static_cast<unsigned char>(line[1])) &&
          std::isdigit(static_cast<unsigned char>(line[2])));
    check(reply.code == (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
    check(line.size() == 3 || line[3] != '-');
    std::string_view whole = reply.whole;
    check(!whole.empty() && whole.back() == '\n');
    whole.remove_suffix(1);
    if (!whole.empty() && whole.back() == '\r') {
        whole.remove_suffix(1);
    }
    check(whole.size() >= line.size() && whole.substr(whole.size() - line.size()) == line);
    check(whole.size() == line.size() || whole[whole.size() - line.size() - 1] == '\n');
    const int port = kestrel::clsFTPConnection::passivePort(line);
    check(port >= 0 && port <= 65535);
    const auto announced = kestrel::clsFTPConnection::announcedSize(line);
    check(!announced || *announced >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t cutCount = data[0] % 8;
    if (size < 1 + 2 * cutCount) {
        return 0;
    }
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1 + 2 * cutCount,
                                  size - 1 - 2 * cutCount);
    std::vector<size_t> cuts;
    for (size_t i = 0; i < cutCount; ++i) {
        const size_t at = data[1 + 2 * i] | (static_cast<size_t>(data[2 + 2 * i]) << 8);
        cuts.push_back(at % (stream.size() + 1));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(stream.size());

    ReplyFramer whole;
    whole.append(stream);
    std::vector<ReplyFramer::Reply> once;
    takeAll(whole, once);

    ReplyFramer pieces;
    std::vector<ReplyFramer::Reply> split;
    size_t from = 0;
    for (size_t cut : cuts) {
        pieces.append(stream.substr(from, cut - from));
        takeAll(pieces, split);
        from = cut;
    }
    check(sameReplies(once, split));
    check(whole.pending() == pieces.pending());

    // Every byte is in a reply or still waits: nothing is lost or made up.
    std::string seen;
    for (const ReplyFramer::Reply& reply : once) {
        checkReply(reply);
        seen += reply.whole;
    }
    seen += whole.pending();
    check(seen == stream);
    return 0;
}
