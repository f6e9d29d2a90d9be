// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/memory_ftp_server.h"

#include <algorithm>
#include <cctype>

namespace kestrel::test {
namespace {

bool matches(const std::string& path, const std::string& fault) {
    return !fault.empty() && path.find(fault) != std::string::npos;
}

}  // namespace

struct MemoryFtpServer::Session {
    TcpSocket control;
    TcpListener passive;
    std::string cwd = "/";
    std::string renameFrom;
    std::string pending;
};

MemoryFtpServer::MemoryFtpServer() {
    m_remote.makeFolder("/");
    m_listener.listen("127.0.0.1", 0);
    m_port = m_listener.port();
    m_acceptor = std::thread([this] {
        while (!m_stop) {
            TcpSocket control;
            // A short wait, so that the server notices it is to stop.
            if (m_listener.accept(control, 100)) {
                m_sessions.emplace_back(
                    [this, c = std::move(control)]() mutable { serve(std::move(c)); });
            }
        }
    });
}

MemoryFtpServer::~MemoryFtpServer() {
    m_stop = true;
    m_acceptor.join();
    for (std::thread& t : m_sessions) {
        t.join();
    }
}

void MemoryFtpServer::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
}

void MemoryFtpServer::makeFolder(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_remote.makeFolder(path);
}

void MemoryFtpServer::remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_remote.remove(path);
}

std::map<std::string, std::string> MemoryFtpServer::files() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_remote.files;
}

int MemoryFtpServer::count(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(std::count_if(m_commands.begin(), m_commands.end(), [&](const auto& c) {
        return c.compare(0, prefix.size(), prefix) == 0;
    }));
}

void MemoryFtpServer::serve(TcpSocket control) {
    Session s;
    s.control = std::move(control);
    s.control.sendAll("220 Memory FTP ready\r\n");
    while (!m_stop) {
        const size_t end = s.pending.find("\r\n");
        if (end != std::string::npos) {
            const std::string reply = handle(s, s.pending.substr(0, end));
            s.pending.erase(0, end + 2);
            if (reply.empty()) {
                return;
            }
            s.control.sendAll(reply + "\r\n");
        } else if (const TcpSocket::Read r = s.control.readSome(s.pending, 100);
                   r == TcpSocket::Read::Closed || r == TcpSocket::Read::Failed) {
            return;
        }
    }
}

std::string MemoryFtpServer::handle(Session& s, const std::string& line) {
    const size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::transform(verb.begin(), verb.end(), verb.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    const std::string path =
        normalRemotePath(!arg.empty() && arg[0] == '/' ? arg : s.cwd + "/" + arg);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_commands.push_back(verb + (arg.empty() ? "" : " " + path));
    const Faults faults = m_faults;
    static const std::map<std::string, std::string> kFixed = {
        {"USER", "331 Password please"}, {"PASS", "230 Logged in"}, {"TYPE", "200 OK"}};
    if (const auto fixed = kFixed.find(verb); fixed != kFixed.end()) {
        return fixed->second;
    }
    if (verb == "QUIT") {
        s.control.sendAll("221 Bye\r\n");
        return "";
    }
    if (verb == "PWD") {
        return "257 \"" + s.cwd + "\" is the current directory";
    }
    if (verb == "CWD") {
        if (m_remote.folders.count(path) == 0) {
            return "550 No such folder";
        }
        s.cwd = path;
        return "250 OK";
    }
    if (verb == "MKD") {
        m_remote.makeFolder(path);
        return "257 \"" + path + "\" created";
    }
    if (verb == "DELE" || verb == "RMD") {
        if ((verb == "DELE" ? m_remote.files.count(path) : m_remote.folders.count(path)) == 0) {
            return "550 Not found";
        }
        m_remote.remove(path);
        return "250 Removed";
    }
    if (verb == "SIZE") {
        auto it = m_remote.files.find(path);
        return it == m_remote.files.end() ? "550 No such file"
                                          : "213 " + std::to_string(it->second.size());
    }
    if (verb == "RNFR") {
        if (faults.refuseRename) {
            return "502 Command not implemented";
        }
        if (m_remote.files.count(path) == 0) {
            return "550 No such file";
        }
        s.renameFrom = path;
        return "350 Ready for destination name";
    }
    if (verb == "RNTO") {
        if (m_remote.files.count(s.renameFrom) == 0) {
            return "503 RNFR first";
        }
        const std::string content = m_remote.files[s.renameFrom];
        m_remote.remove(s.renameFrom);
        m_remote.put(path, content);
        return "250 Renamed";
    }
    if (verb == "PASV") {
        s.passive.close();
        s.passive.listen("127.0.0.1", 0);
        const int p = s.passive.port();
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(p / 256) + "," +
               std::to_string(p % 256) + ")";
    }
    if (verb == "LIST" || verb == "RETR" || verb == "STOR") {
        std::string body;
        if (verb == "LIST") {
            const auto folder = m_remote.folders.find(arg.empty() ? s.cwd : path);
            for (size_t i = 0; folder != m_remote.folders.end() && i < folder->second.size(); ++i) {
                const clsFTPFile& f = folder->second[i];
                body += std::string(f.bDir ? "d" : "-") + "rw-r--r-- 1 u g " +
                        std::to_string(f.dSize) + " Jan 01 00:00 " + f.strName + "\r\n";
            }
        } else if (verb == "RETR") {
            auto it = m_remote.files.find(path);
            if (it == m_remote.files.end() || matches(path, faults.refuseRetr)) {
                return "550 Failed to open file";
            }
            body = it->second;
            if (matches(path, faults.shortRetr)) {
                body.resize(std::min(body.size(), faults.shortRetrBytes));
            }
        }
        lock.unlock();
        TcpSocket data;
        if (!s.passive.accept(data, 10'000)) {
            return "425 No data connection";
        }
        s.control.sendAll("150 Opening BINARY mode data connection\r\n");
        if (verb != "STOR") {
            data.sendAll(body);
            data.close();
            return "226 Transfer complete";
        }
        std::string received;
        const bool cut = matches(path, faults.cutStor);
        for (;;) {
            if (cut && received.size() >= faults.cutStorAfter) {
                received.resize(faults.cutStorAfter);
                break;
            }
            const TcpSocket::Read r = data.readSome(received, 10'000);
            if (r != TcpSocket::Read::Data) {
                break;
            }
        }
        data.close();
        lock.lock();
        m_remote.put(path, received);
        return cut && !faults.cutStorSays226 ? "426 Connection closed; transfer aborted"
                                             : "226 Transfer complete";
    }
    return "502 Command not implemented";
}

}  // namespace kestrel::test
