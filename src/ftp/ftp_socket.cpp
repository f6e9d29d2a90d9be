// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ftp_socket.h"

#include "core/run_control.h"
#include "platform/text.h"

namespace kestrel {

bool clsFTPSocket::FTPConnect(const std::string& host, int port, std::string* error) {
    return m_socket.connect(host, port, 30'000, error);
}

bool clsFTPSocket::SimpleConnect(const std::string& host, int port) {
    return m_socket.connect(host, port, 5'000);
}

bool clsFTPSocket::WaitForConnection(TcpListener& listener, int timeoutMs) {
    return listener.accept(m_socket, timeoutMs);
}

std::string clsFTPSocket::echoText(const std::string& command) {
    const std::string trimmed(text::trimBlanks(command));
    if (text::upper(trimmed.substr(0, 4)) == "PASS") {
        return "PASS " + std::string(trimmed.size() > 5 ? trimmed.size() - 5 : 0, '*');
    }
    return trimmed;
}

bool clsFTPSocket::sendData(const std::string& command) {
    const std::string line = std::string(text::trimBlanks(command)) + "\r\n";
    const bool sent = m_socket.sendAll(line);
    if (m_echo != nullptr) {
        const std::string echoed = echoText(command);
        if (!text::trimBlanks(echoed).empty()) {
            m_echo->WriteLog("CMD: " + text::replaceAll(echoed, "\r\n", ""));
        }
    }
    return sent;
}

bool clsFTPSocket::sendBinaryData(std::string_view block) {
    return m_socket.sendAll(block);
}

TcpSocket::Read clsFTPSocket::receive(std::string& out, int timeoutMs) {
    return m_socket.readSome(out, timeoutMs);
}

void clsFTPSocket::echoReply(const std::string& reply) {
    if (m_echo != nullptr && !text::trimSpace(text::replaceAll(reply, "\r\n", "")).empty()) {
        std::string shown = reply;
        while (text::endsWith(shown, "\r\n")) {
            shown.resize(shown.size() - 2);
        }
        m_echo->WriteLog("REP: " + shown);
    }
}

}  // namespace kestrel
