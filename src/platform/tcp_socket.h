// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tls_session.h"
#include "platform/unique_fd.h"

namespace kestrel {

// One TCP connection (IPv4 or IPv6) with blocking sends and reads guarded by a poll with a
// time-out. Move-only; the destructor closes it.
class TcpSocket {
public:
    TcpSocket() = default;
    TcpSocket(TcpSocket&& other) noexcept = default;
    TcpSocket& operator=(TcpSocket&& other) noexcept = default;

    // Connects to a host name or numeric address, trying each address the name resolves to in
    // turn; gives up on each after timeoutMs.
    bool connect(const std::string& host, int port, int timeoutMs, std::string* error = nullptr);
    bool isOpen() const { return m_fd.valid(); }
    // With TLS, the session is ended first: close_notify, and with tlsGraceMs above 0 the peer's
    // answer awaited that long (a server may take a data connection closed without it for cut).
    void close(int tlsGraceMs = 0);

    // Starts TLS as a client of host (the name the certificate must carry) on this connection,
    // offering resumeFrom's TLS session (may be null) for resumption. False with *error when the
    // handshake failed; the certificate's standing is then in tls().
    bool startTls(const std::string& host, const TcpSocket* resumeFrom, int timeoutMs,
                  std::string* error = nullptr);
    // The TLS session, null before startTls.
    const TlsSession* tls() const { return m_tls.get(); }

    // Sends every byte; false when the connection failed.
    bool sendAll(std::string_view data);

    enum class Read { Data, Closed, TimedOut, Failed };
    // Waits up to timeoutMs for data and appends what one read brings (at most maxBytes).
    Read readSome(std::string& out, int timeoutMs, size_t maxBytes = 65536);

    // The numeric address of this end and of the other end of the connection ("" when closed).
    std::string localAddress() const;
    std::string peerAddress() const;
    bool isIpv6() const;

    // The first address of a host name in numeric form; the name itself when it cannot be
    // resolved.
    static std::string resolve(const std::string& host);

private:
    friend class TcpListener;
    bool connectTo(const void* address, unsigned length, int family, int timeoutMs);
    UniqueFd m_fd;
    std::unique_ptr<TlsSession> m_tls;
};

// A listening socket (IPv4 or IPv6) for one incoming connection.
class TcpListener {
public:
    TcpListener() = default;

    // Binds to a numeric address and port (port 0 = any free port) and listens.
    bool listen(const std::string& address, int port, std::string* error = nullptr);
    int port() const;
    // Waits up to timeoutMs for a connection.
    bool accept(TcpSocket& connection, int timeoutMs);
    void close();

private:
    UniqueFd m_fd;
};

}  // namespace kestrel
