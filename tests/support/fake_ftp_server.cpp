#include "support/fake_ftp_server.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kestrel::test {

bool FakeFtpServer::Conversation::send(const std::string& text) {
    return control.sendAll(text);
}

void FakeFtpServer::Conversation::awaitYields(int n) {
    std::unique_lock lock(server->m_mutex);
    const long until = server->m_yields + n;
    // Only a client that stopped yielding altogether is given up on.
    if (!server->m_yielded.wait_for(lock, std::chrono::seconds(30),
                                    [&] { return server->m_yields >= until; }) &&
        mismatch.empty()) {
        mismatch = "the client stopped yielding";
    }
}

void FakeFtpServer::clientYielded() {
    {
        std::lock_guard lock(m_mutex);
        ++m_yields;
    }
    m_yielded.notify_all();
}

std::string FakeFtpServer::Conversation::command() {
    for (;;) {
        const size_t end = pending.find("\r\n");
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            return line;
        }
        if (control.readSome(pending, 10'000) != TcpSocket::Read::Data) {
            return "";
        }
    }
}

bool FakeFtpServer::Conversation::expect(const std::string& prefix) {
    const std::string line = command();
    if (line.compare(0, prefix.size(), prefix) != 0) {
        if (mismatch.empty()) {
            mismatch = "expected \"" + prefix + "\", got \"" + line + "\"";
        }
        return false;
    }
    return true;
}

std::string FakeFtpServer::Conversation::passive() {
    dataListener.listen("127.0.0.1", 0);
    const int p = dataListener.port();
    return "227 Entering Passive Mode (10,0,0,1," + std::to_string(p / 256) + "," +
           std::to_string(p % 256) + ").\r\n";
}

bool FakeFtpServer::Conversation::acceptData() {
    return dataListener.accept(data, 10'000);
}

void FakeFtpServer::Conversation::sendData(const std::string& bytes) {
    data.sendAll(bytes);
}

std::string FakeFtpServer::Conversation::receiveData() {
    std::string all;
    while (data.readSome(all, 10'000) == TcpSocket::Read::Data) {
    }
    return all;
}

void FakeFtpServer::Conversation::closeData() {
    data.close();
    dataListener.close();
}

void FakeFtpServer::Conversation::close() {
    closeData();
    control.close();
}

FakeFtpServer::FakeFtpServer(std::function<void(Conversation&)> script) {
    m_listener.listen("127.0.0.1", 0);
    m_port = m_listener.port();
    m_thread = std::thread([this, script = std::move(script)] {
        Conversation c;
        c.server = this;
        if (m_listener.accept(c.control, 10'000)) {
            script(c);
        } else {
            c.mismatch = "no client connected";
        }
        m_mismatch = c.mismatch;
        c.close();
    });
}

FakeFtpServer::~FakeFtpServer() {
    const bool asked = m_asked;
    const std::string mismatch = finish();
    if (!asked && !mismatch.empty()) {
        ADD_FAILURE() << "the FTP script was not followed: " << mismatch;
    }
}

std::string FakeFtpServer::finish() {
    m_asked = true;
    if (!m_finished && m_thread.joinable()) {
        m_thread.join();
        m_finished = true;
    }
    return m_mismatch;
}

}  // namespace kestrel::test
