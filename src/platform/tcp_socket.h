// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace kestrel {

// One IPv4 TCP connection with blocking sends and reads guarded by a poll with a time-out.
// Move-only; the destructor closes it.
class TcpSocket {
public:
    TcpSocket() = default;
    TcpSocket(TcpSocket&& other) noexcept = default;
    TcpSocket& operator=(TcpSocket&& other) noexcept = default;

    // Connects to a host name or dotted address; gives up after timeoutMs.
    bool connect(const std::string& host, int port, int timeoutMs, std::string* error = nullptr);
    bool isOpen() const { return m_fd.valid(); }
    void close();

    // Sends every byte; false when the connection failed.
    bool sendAll(std::string_view data);

    enum class Read { Data, Closed, TimedOut, Failed };
    // Waits up to timeoutMs for data and appends what one read brings (at most maxBytes).
    Read readSome(std::string& out, int timeoutMs, size_t maxBytes = 65536);

    // The dotted IPv4 address of this end of the connection.
    std::string localAddress() const;

    // The first IPv4 address of a host name in dotted form; the name itself when it cannot be
    // resolved.
    static std::string resolve(const std::string& host);

private:
    friend class TcpListener;
    UniqueFd m_fd;
};

// A listening IPv4 socket for one incoming connection.
class TcpListener {
public:
    TcpListener() = default;

    // Binds to address:port (port 0 = any free port) and listens.
    bool listen(const std::string& address, int port, std::string* error = nullptr);
    int port() const;
    // Waits up to timeoutMs for a connection.
    bool accept(TcpSocket& connection, int timeoutMs);
    void close();

private:
    UniqueFd m_fd;
};

}  // namespace kestrel
