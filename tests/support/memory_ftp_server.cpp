#include "support/memory_ftp_server.h"

#include <algorithm>
#include <cctype>

namespace kestrel::test {
namespace {

std::string normalize(std::string path) {
    std::string out;
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') {
            continue;
        }
        out += c;
    }
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out.empty() ? "/" : out;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

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

    std::string resolve(const std::string& arg) const {
        return normalize(!arg.empty() && arg[0] == '/' ? arg : cwd + "/" + arg);
    }
    bool openData(TcpSocket& data) { return passive.accept(data, 10'000); }
};

MemoryFtpServer::MemoryFtpServer() {
    m_folders.insert("/");
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
    m_folders.insert(normalize(path));
}

void MemoryFtpServer::put(const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files[normalize(path)] = content;
}

void MemoryFtpServer::remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.erase(normalize(path));
}

std::optional<std::string> MemoryFtpServer::get(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.find(normalize(path));
    return it == m_files.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::map<std::string, std::string> MemoryFtpServer::files() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files;
}

std::set<std::string> MemoryFtpServer::names(const std::string& folder) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::set<std::string> out;
    for (const auto& [path, content] : m_files) {
        if (parentOf(path) == normalize(folder)) {
            out.insert(path.substr(path.rfind('/') + 1));
        }
    }
    return out;
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
        if (end == std::string::npos) {
            const TcpSocket::Read r = s.control.readSome(s.pending, 100);
            if (r == TcpSocket::Read::Closed || r == TcpSocket::Read::Failed) {
                return;
            }
            continue;
        }
        const std::string line = s.pending.substr(0, end);
        s.pending.erase(0, end + 2);
        const std::string reply = handle(s, line);
        if (reply.empty()) {
            return;
        }
        s.control.sendAll(reply + "\r\n");
    }
}

std::string MemoryFtpServer::handle(Session& s, const std::string& line) {
    const size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::transform(verb.begin(), verb.end(), verb.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    const std::string path = s.resolve(arg);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_commands.push_back(verb + (arg.empty() ? "" : " " + path));
    const Faults faults = m_faults;
    if (verb == "USER") {
        return "331 Password please";
    }
    if (verb == "PASS") {
        return "230 Logged in";
    }
    if (verb == "TYPE" || verb == "NOOP") {
        return "200 OK";
    }
    if (verb == "QUIT") {
        s.control.sendAll("221 Bye\r\n");
        return "";
    }
    if (verb == "PWD") {
        return "257 \"" + s.cwd + "\" is the current directory";
    }
    if (verb == "CWD") {
        if (m_folders.count(path) == 0) {
            return "550 No such folder";
        }
        s.cwd = path;
        return "250 OK";
    }
    if (verb == "MKD") {
        m_folders.insert(path);
        return "257 \"" + path + "\" created";
    }
    if (verb == "RMD") {
        return m_folders.erase(path) != 0 ? "250 Removed" : "550 No such folder";
    }
    if (verb == "SIZE") {
        auto it = m_files.find(path);
        return it == m_files.end() ? "550 No such file"
                                   : "213 " + std::to_string(it->second.size());
    }
    if (verb == "DELE") {
        return m_files.erase(path) != 0 ? "250 Deleted" : "550 No such file";
    }
    if (verb == "RNFR") {
        if (faults.refuseRename) {
            return "502 Command not implemented";
        }
        if (m_files.count(path) == 0) {
            return "550 No such file";
        }
        s.renameFrom = path;
        return "350 Ready for destination name";
    }
    if (verb == "RNTO") {
        auto it = m_files.find(s.renameFrom);
        if (it == m_files.end()) {
            return "503 RNFR first";
        }
        std::string content = std::move(it->second);
        m_files.erase(it);
        m_files[path] = std::move(content);
        s.renameFrom.clear();
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
            const std::string folder = arg.empty() ? s.cwd : path;
            for (const std::string& f : m_folders) {
                if (f != "/" && parentOf(f) == folder) {
                    body +=
                        "drwxr-xr-x 1 u g 0 Jan 01 00:00 " + f.substr(f.rfind('/') + 1) + "\r\n";
                }
            }
            for (const auto& [p, content] : m_files) {
                if (parentOf(p) == folder) {
                    body += "-rw-r--r-- 1 u g " + std::to_string(content.size()) +
                            " Jan 01 00:00 " + p.substr(p.rfind('/') + 1) + "\r\n";
                }
            }
        } else if (verb == "RETR") {
            auto it = m_files.find(path);
            if (it == m_files.end() || matches(path, faults.refuseRetr)) {
                return "550 Failed to open file";
            }
            body = it->second;
            if (matches(path, faults.shortRetr)) {
                body.resize(std::min(body.size(), faults.shortRetrBytes));
            }
        }
        lock.unlock();
        TcpSocket data;
        if (!s.openData(data)) {
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
        m_files[path] = received;
        return cut && !faults.cutStorSays226 ? "426 Connection closed; transfer aborted"
                                             : "226 Transfer complete";
    }
    return "502 Command not implemented";
}

}  // namespace kestrel::test
