// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/tcp_socket.h"
#include "platform/status.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace kestrel {
namespace {

void setError(std::string* error, const std::string& what) {
    if (error != nullptr) {
        *error = Status::fromErrno(errno, what).text();
    }
}

bool waitFor(int fd, short events, int timeoutMs) {
    struct pollfd p {
        fd, events, 0
    };
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0;
    }
}

// Numeric text of an IPv4 or IPv6 socket address, "" for another family.
std::string addressText(const struct sockaddr_storage& addr) {
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const struct sockaddr_in*>(&addr)->sin_addr, text,
                    sizeof text);
    } else if (addr.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const struct sockaddr_in6*>(&addr)->sin6_addr, text,
                    sizeof text);
    }
    return text;
}

using AddrInfoPtr = std::unique_ptr<struct addrinfo, decltype(&::freeaddrinfo)>;

AddrInfoPtr lookUp(const std::string& host, int port, int flags) {
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | flags;
    struct addrinfo* result = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &result) != 0) {
        result = nullptr;
    }
    return AddrInfoPtr(result, &::freeaddrinfo);
}

}  // namespace

std::string TcpSocket::resolve(const std::string& host) {
    const AddrInfoPtr result = lookUp(host, 0, 0);
    if (!result) {
        return host;
    }
    struct sockaddr_storage addr {};
    ::memcpy(&addr, result->ai_addr, std::min<size_t>(result->ai_addrlen, sizeof addr));
    return addressText(addr);
}

bool TcpSocket::connect(const std::string& host, int port, int timeoutMs, std::string* error) {
    close();
    if (host.empty() || port < 0 || port > 65535) {
        if (error != nullptr) {
            *error = "no host or port out of range";
        }
        return false;
    }
    // An IPv6 address may come as it is written in URLs: "[::1]".
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const AddrInfoPtr result = lookUp(bracketed ? host.substr(1, host.size() - 2) : host, port, 0);
    if (!result) {
        if (error != nullptr) {
            *error = "cannot resolve " + host;
        }
        return false;
    }
    // Every address of the name in the resolver's order: a host may answer on only one family.
    for (const struct addrinfo* ai = result.get(); ai != nullptr; ai = ai->ai_next) {
        if (connectTo(ai->ai_addr, ai->ai_addrlen, ai->ai_family, timeoutMs)) {
            return true;
        }
        setError(error, "cannot connect to " + host + ":" + std::to_string(port));
    }
    return false;
}

bool TcpSocket::connectTo(const void* address, unsigned length, int family, int timeoutMs) {
    m_fd.reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
    if (!m_fd.valid()) {
        return false;
    }
    if (::connect(m_fd.get(), static_cast<const struct sockaddr*>(address), length) != 0) {
        if (errno != EINPROGRESS || !waitFor(m_fd.get(), POLLOUT, timeoutMs)) {
            const int saved = errno == EINPROGRESS ? ETIMEDOUT : errno;
            close();
            errno = saved;
            return false;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            close();
            errno = soError;
            return false;
        }
    }
    // Back to blocking mode: reads are guarded by poll, sends may block.
    ::fcntl(m_fd.get(), F_SETFL, ::fcntl(m_fd.get(), F_GETFL) & ~O_NONBLOCK);
    return true;
}

void TcpSocket::close(int tlsGraceMs) {
    if (m_tls && m_fd.valid()) {
        m_tls->bye(tlsGraceMs > 0, tlsGraceMs);
    }
    m_tls.reset();
    m_fd.reset();
}

bool TcpSocket::startTls(const std::string& host, const TcpSocket* resumeFrom, int timeoutMs,
                         std::string* error) {
    if (!m_fd.valid()) {
        return false;
    }
    m_tls = std::make_unique<TlsSession>();
    const TlsSession* earlier = resumeFrom != nullptr ? resumeFrom->tls() : nullptr;
    return m_tls->handshake(m_fd.get(), host, earlier, timeoutMs, error);
}

bool TcpSocket::sendAll(std::string_view data) {
    if (!m_fd.valid()) {
        return false;
    }
    if (m_tls) {
        return m_tls->sendAll(data.data(), data.size());
    }
    while (!data.empty()) {
        const ssize_t n = ::send(m_fd.get(), data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

TcpSocket::Read TcpSocket::readSome(std::string& out, int timeoutMs, size_t maxBytes) {
    if (!m_fd.valid()) {
        return Read::Closed;
    }
    if (m_tls) {
        switch (m_tls->receive(out, timeoutMs, maxBytes)) {
            case TlsSession::Io::Data:
                return Read::Data;
            case TlsSession::Io::Closed:
                return Read::Closed;
            case TlsSession::Io::TimedOut:
                return Read::TimedOut;
            case TlsSession::Io::Failed:
                return Read::Failed;
        }
    }
    if (!waitFor(m_fd.get(), POLLIN, timeoutMs)) {
        return Read::TimedOut;
    }
    const size_t before = out.size();
    out.resize(before + maxBytes);
    ssize_t n = 0;
    do {
        n = ::recv(m_fd.get(), out.data() + before, maxBytes, 0);
    } while (n < 0 && errno == EINTR);
    out.resize(before + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0) {
        return Read::Closed;
    }
    return n > 0 ? Read::Data : Read::Failed;
}

std::string TcpSocket::localAddress() const {
    struct sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (!m_fd.valid() ||
        ::getsockname(m_fd.get(), reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) {
        return "";
    }
    return addressText(addr);
}

std::string TcpSocket::peerAddress() const {
    struct sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (!m_fd.valid() ||
        ::getpeername(m_fd.get(), reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) {
        return "";
    }
    return addressText(addr);
}

bool TcpSocket::isIpv6() const {
    return localAddress().find(':') != std::string::npos;
}

bool TcpListener::listen(const std::string& address, int port, std::string* error) {
    close();
    const AddrInfoPtr result = lookUp(address, port, AI_NUMERICHOST | AI_PASSIVE);
    if (!result) {
        if (error != nullptr) {
            *error = "not an IP address: " + address;
        }
        return false;
    }
    m_fd.reset(::socket(result->ai_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    const int yes = 1;
    if (!m_fd.valid() ||
        ::setsockopt(m_fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(m_fd.get(), result->ai_addr, result->ai_addrlen) != 0 ||
        ::listen(m_fd.get(), 1) != 0) {
        setError(error, "cannot listen on " + address + ":" + std::to_string(port));
        close();
        return false;
    }
    return true;
}

int TcpListener::port() const {
    struct sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (!m_fd.valid() ||
        ::getsockname(m_fd.get(), reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) {
        return 0;
    }
    if (addr.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const struct sockaddr_in6*>(&addr)->sin6_port);
    }
    return ntohs(reinterpret_cast<const struct sockaddr_in*>(&addr)->sin_port);
}

bool TcpListener::accept(TcpSocket& connection, int timeoutMs) {
    if (!m_fd.valid() || !waitFor(m_fd.get(), POLLIN, timeoutMs)) {
        return false;
    }
    const int fd = ::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    connection.m_fd.reset(fd);
    return true;
}

void TcpListener::close() {
    m_fd.reset();
}

}  // namespace kestrel
