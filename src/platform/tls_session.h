// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace kestrel {

// The client side of one TLS session over a connected socket, which it keeps non-blocking: every
// wait is a poll with a time-out, so that a silent peer cannot hold the caller.
class TlsSession {
public:
    TlsSession();
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Handshakes as a client of host over fd; resumeFrom (may be null) offers that session's
    // parameters for resumption. False with *error on failure.
    bool handshake(int fd, const std::string& host, const TlsSession* resumeFrom, int timeoutMs,
                   std::string* error);
    // After the handshake: whether the certificate chain is trusted by the system and names
    // host, the SHA-256 of the server's certificate (64 lowercase hex digits, "" when none came),
    // and whether the session resumed an earlier one.
    bool trusted() const { return m_trusted; }
    const std::string& fingerprint() const { return m_fingerprint; }
    bool resumed() const;

    enum class Io { Data, Closed, TimedOut, Failed };
    // Appends what one record brings, waiting up to timeoutMs.
    Io receive(std::string& out, int timeoutMs, size_t maxBytes);
    bool sendAll(const char* data, size_t size);
    // Ends the session: close_notify, then (waitForPeer) the peer's close_notify or end of
    // stream within timeoutMs.
    void bye(bool waitForPeer, int timeoutMs);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    bool m_trusted = false;
    bool m_peerClosed = false;
    std::string m_fingerprint;
};

}  // namespace kestrel
