// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "platform/tcp_socket.h"

namespace kestrel {

class RunControl;

// One connection of an FTP session (control or data). Commands sent on it are echoed to the
// program log as "CMD: ..." with any password masked; replies the session reads are echoed as
// "REP: ...".
class clsFTPSocket {
public:
    // echo: the run control whose log gets the conversation, or null for none.
    explicit clsFTPSocket(RunControl* echo = nullptr) : m_echo(echo) {}

    // The control connection (time-out 30 s) and a data connection (5 s).
    bool FTPConnect(const std::string& host, int port, std::string* error = nullptr);
    bool SimpleConnect(const std::string& host, int port);
    // Accepts one connection on a listener made before (active mode).
    bool WaitForConnection(TcpListener& listener, int timeoutMs);

    // Sends a command: trimmed, followed by CR LF. False when the connection failed.
    bool sendData(const std::string& command);
    bool sendBinaryData(std::string_view block);
    // Appends what arrives within timeoutMs; see TcpSocket::readSome.
    TcpSocket::Read receive(std::string& out, int timeoutMs);
    void echoReply(const std::string& reply);

    // TLS on this connection as a client of host, resuming resumeFrom's session when given.
    bool startTls(const std::string& host, const clsFTPSocket* resumeFrom, std::string* error) {
        return m_socket.startTls(host, resumeFrom != nullptr ? &resumeFrom->m_socket : nullptr,
                                 30'000, error);
    }
    const TlsSession* tls() const { return m_socket.tls(); }

    // A TLS connection is shut down in full, so that the server counts its data as whole.
    void FTPDisconnect() { m_socket.close(5000); }
    bool isOpen() const { return m_socket.isOpen(); }
    std::string localAddress() const { return m_socket.localAddress(); }
    std::string peerAddress() const { return m_socket.peerAddress(); }
    bool isIpv6() const { return m_socket.isIpv6(); }

    // The text a command is echoed as: "PASS " and one "*" per password character for passwords.
    static std::string echoText(const std::string& command);

private:
    RunControl* m_echo;
    TcpSocket m_socket;
};

}  // namespace kestrel
