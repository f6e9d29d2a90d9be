// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/host_address.h"

#include <gtest/gtest.h>

namespace kestrel::net {
namespace {

TEST(HostAddress, LoopbackPrivateAndLinkLocalRangesAreLocalAndTheirNeighboursAreNot) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},
        {"127.255.255.254", true},
        {"128.0.0.1", false},
        {"10.0.0.1", true},
        {"11.0.0.1", false},
        {"9.255.255.255", false},
        {"172.16.0.1", true},
        {"172.31.255.255", true},
        {"172.15.255.255", false},
        {"172.32.0.1", false},
        {"192.168.1.2", true},
        {"192.169.0.1", false},
        {"169.254.10.1", true},
        {"169.253.0.1", false},
        {"8.8.8.8", false},
        {"::1", true},
        {"::2", false},
        {"fc00::1", true},
        {"fdff:ffff::1", true},
        {"fe00::1", false},
        {"fe80::1", true},
        {"febf::1", true},
        {"fec0::1", false},
        {"2001:db8::1", false},
        {"::ffff:192.168.0.9", true},
        {"::ffff:1.2.3.4", false},
        {"localhost", true},
        {"", false},

    };
    for (const auto& [host, local] : cases) {
        EXPECT_EQ(hostIsLocal(host), local) << host;
    }
}

}  // namespace
}  // namespace kestrel::net
