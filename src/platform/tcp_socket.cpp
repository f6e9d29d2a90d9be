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

}  // namespace

std::string TcpSocket::resolve(const std::string& host) {
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        return host;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* addr = reinterpret_cast<const struct sockaddr_in*>(result->ai_addr);
    ::inet_ntop(AF_INET, &addr->sin_addr, text, sizeof text);
    ::freeaddrinfo(result);
    return text;
}

bool TcpSocket::connect(const std::string& host, int port, int timeoutMs, std::string* error) {
    close();
    if (host.empty() || port < 0 || port > 65535) {
        if (error != nullptr) {
            *error = "no host or port out of range";
        }
        return false;
    }
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, resolve(host).c_str(), &addr.sin_addr) != 1) {
        if (error != nullptr) {
            *error = "cannot resolve " + host;
        }
        return false;
    }
    m_fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
    if (!m_fd.valid()) {
        setError(error, "cannot create a socket");
        return false;
    }
    if (::connect(m_fd.get(), reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS || !waitFor(m_fd.get(), POLLOUT, timeoutMs)) {
            setError(error, "cannot connect to " + host + ":" + std::to_string(port));
            close();
            return false;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            errno = soError;
            setError(error, "cannot connect to " + host + ":" + std::to_string(port));
            close();
            return false;
        }
    }
    // Back to blocking mode: reads are guarded by poll, sends may block.
    ::fcntl(m_fd.get(), F_SETFL, ::fcntl(m_fd.get(), F_GETFL) & ~O_NONBLOCK);
    return true;
}

void TcpSocket::close() {
    m_fd.reset();
}

bool TcpSocket::sendAll(std::string_view data) {
    if (!m_fd.valid()) {
        return false;
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
    struct sockaddr_in addr {};
    socklen_t len = sizeof addr;
    if (!m_fd.valid() ||
        ::getsockname(m_fd.get(), reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) {
        return "";
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return text;
}

bool TcpListener::listen(const std::string& address, int port, std::string* error) {
    close();
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        if (error != nullptr) {
            *error = "not an IPv4 address: " + address;
        }
        return false;
    }
    m_fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    const int yes = 1;
    if (!m_fd.valid() ||
        ::setsockopt(m_fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(m_fd.get(), reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_fd.get(), 1) != 0) {
        setError(error, "cannot listen on " + address + ":" + std::to_string(port));
        close();
        return false;
    }
    return true;
}

int TcpListener::port() const {
    struct sockaddr_in addr {};
    socklen_t len = sizeof addr;
    if (!m_fd.valid() ||
        ::getsockname(m_fd.get(), reinterpret_cast<struct sockaddr*>(&addr), &len) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
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
