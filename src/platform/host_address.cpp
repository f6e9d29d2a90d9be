// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/host_address.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>

namespace kestrel::net {
namespace {

bool ipv4IsLocal(std::uint32_t a) {
    return (a >> 24) == 127 || (a >> 24) == 10 || (a >> 20) == 0xac1 || (a >> 16) == 0xc0a8 ||
           (a >> 16) == 0xa9fe;
}

bool ipv6IsLocal(const in6_addr& a) {
    const unsigned char* b = a.s6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
        return ipv4IsLocal(std::uint32_t(b[12]) << 24 | std::uint32_t(b[13]) << 16 |
                           std::uint32_t(b[14]) << 8 | b[15]);
    }
    return IN6_IS_ADDR_LOOPBACK(&a) || (b[0] & 0xfe) == 0xfc ||
           (b[0] == 0xfe && (b[1] & 0xc0) == 0x80);
}

}  // namespace

bool hostIsLocal(const std::string& host) {
    if (host.empty()) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
    for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        bool local = false;
        if (ai->ai_family == AF_INET) {
            local = ipv4IsLocal(
                ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr));
        } else if (ai->ai_family == AF_INET6) {
            local = ipv6IsLocal(reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr);
        }
        if (!local) {
            return false;
        }
    }
    return true;
}

}  // namespace kestrel::net
