// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/instance_channel.h"
#include "platform/status.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

#include "platform/fs.h"
#include "platform/process.h"

namespace kestrel {

namespace {

constexpr size_t kMaxRequest = 16 * 1024;

}  // namespace

std::string instanceSocketPath(const std::string& programFolder) {
    // A socket path must be short; the folder's hash tells folders apart.
    const auto hash = std::hash<std::string>{}(programFolder);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016zx", static_cast<size_t>(hash));
    std::string path;
    const auto runtime = fs::getEnv("XDG_RUNTIME_DIR");
    if (runtime && !runtime->empty() && runtime->size() < 60) {
        path = *runtime;
        path += "/kestrel-";
    } else {
        path = "/tmp/kestrel-";
        path += currentUserName();
        path += "-";
    }
    path += hex;
    return path;
}

const std::vector<std::string>& desktopVariableNames() {
    static const std::vector<std::string> names = {"DISPLAY",
                                                   "WAYLAND_DISPLAY",
                                                   "XAUTHORITY",
                                                   "XDG_RUNTIME_DIR",
                                                   "XDG_SESSION_TYPE",
                                                   "XDG_CURRENT_DESKTOP",
                                                   "DBUS_SESSION_BUS_ADDRESS",
                                                   "QT_QPA_PLATFORM"};
    return names;
}

std::string instanceRequestText(const std::string& command) {
    std::string text = command;
    text += "\n";
    for (const std::string& name : desktopVariableNames()) {
        const auto value = fs::getEnv(name.c_str());
        if (value && value->find('\n') == std::string::npos) {
            text += name;
            text += "=";
            text += *value;
            text += "\n";
        }
    }
    return text;
}

InstanceRequest parseInstanceRequest(const std::string& text) {
    InstanceRequest request;
    size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            request.command = line;
            first = false;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || line.find('\0') != std::string::npos) {
            continue;
        }
        const std::string name = line.substr(0, eq);
        const auto& names = desktopVariableNames();
        const bool known = std::find(names.begin(), names.end(), name) != names.end();
        const bool seen = std::any_of(
            request.environment.begin(), request.environment.end(),
            [&](const std::string& kept) { return kept.compare(0, eq + 1, line, 0, eq + 1) == 0; });
        if (known && !seen) {
            request.environment.push_back(line);
        }
    }
    return request;
}

InstanceListener::~InstanceListener() {
    if (m_fd.valid()) {
        m_fd.reset();
        ::unlink(m_path.c_str());
    }
}

bool InstanceListener::listen(const std::string& path, std::string* error) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        *error = "socket path too long: ";
        *error += path;
        return false;
    }
    address.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), address.sun_path);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
        *error = Status::fromErrno(errno, "cannot create a socket").text();
        return false;
    }
    ::unlink(path.c_str());
    // Only the user may connect, also where the folder is shared (/tmp).
    const mode_t before = ::umask(0077);
    const bool bound =
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(before);
    if (!bound || ::listen(fd.get(), 4) != 0) {
        *error = Status::fromErrno(errno, "cannot listen on " + path).text();
        return false;
    }
    m_fd = std::move(fd);
    m_path = path;
    return true;
}

std::optional<InstanceRequest> InstanceListener::poll(int readTimeoutMs) {
    if (!m_fd.valid()) {
        return std::nullopt;
    }
    for (;;) {
        const UniqueFd peer(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!peer.valid()) {
            return std::nullopt;  // nobody waiting (or a peer that gave up)
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        const bool sameUser =
            ::getsockopt(peer.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
            credentials.uid == ::geteuid();
        std::string text;
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(readTimeoutMs);
        while (sameUser && text.size() < kMaxRequest) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            pollfd wait{peer.get(), POLLIN, 0};
            if (left <= 0 || ::poll(&wait, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char buffer[1024];
            const ssize_t n = ::read(peer.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;  // the peer wrote all and closed
            }
            text.append(buffer, static_cast<size_t>(n));
        }
        if (sameUser && !text.empty()) {
            return parseInstanceRequest(text);
        }
    }
}

}  // namespace kestrel
