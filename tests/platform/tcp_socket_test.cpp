// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/tcp_socket.h"

namespace kestrel {
namespace {

// A name with an address nobody listens on before one that answers is still reached; literal
// IPv6 addresses work with or without brackets.
TEST(TcpSocket, EveryAddressOfAHostIsTriedAndIpv6LiteralsConnect) {
    TcpListener v4;
    ASSERT_TRUE(v4.listen("127.0.0.1", 0));
    TcpListener v6;
    const bool ipv6 = v6.listen("::1", 0);
    struct Case {
        std::string host;
        int port;
        bool ok;
        std::string peer;
    };
    std::vector<Case> cases = {
        {"127.0.0.1", v4.port(), true, "127.0.0.1"},
        {"localhost", v4.port(), true, "127.0.0.1"},
        {"no-such-host.invalid", v4.port(), false, ""},
        {"", v4.port(), false, ""},
        {"127.0.0.1", 65536, false, ""},
        {"127.0.0.1", -1, false, ""},
    };
    if (ipv6) {
        cases.push_back({"::1", v6.port(), true, "::1"});
        cases.push_back({"[::1]", v6.port(), true, "::1"});
        cases.push_back({"::1", v4.port() == v6.port() ? 1 : v4.port(), false, ""});
    }
    for (const Case& c : cases) {
        TcpSocket s;
        std::string error;
        EXPECT_EQ(s.connect(c.host, c.port, 5000, &error), c.ok) << c.host << " " << error;
        EXPECT_EQ(s.peerAddress(), c.peer) << c.host;
        EXPECT_EQ(s.isIpv6(), c.peer == "::1") << c.host;
        EXPECT_EQ(error.empty(), c.ok) << c.host;
    }
}

}  // namespace
}  // namespace kestrel
