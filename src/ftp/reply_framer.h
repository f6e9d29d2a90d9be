// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Frames the bytes of an FTP control connection into replies, by lines as RFC 959 defines
// them. Bytes are appended as they arrive, in pieces of any size; a reply is taken once its
// last line is complete, so where the pieces were cut never changes the replies.
class ReplyFramer {
public:
    struct Reply {
        std::int32_t code = 0;
        std::string line;   // the last line, without its line end
        std::string whole;  // every byte the reply took, with any noise before it
    };

    // Where the connection appends what it receives.
    std::string& pending() { return m_pending; }
    void append(std::string_view bytes) { m_pending.append(bytes); }
    void clear() { m_pending.clear(); }

    // The first complete reply, removed from the pending bytes; nothing while none is complete.
    std::optional<Reply> take();

private:
    std::string m_pending;
};

}  // namespace kestrel
