// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace kestrel {

// The local socket over which a second start of the program reaches the running instance of a
// program folder: one per user and folder, in the user's runtime folder (private to the user).
std::string instanceSocketPath(const std::string& programFolder);

// What a second start asks: "show", then the variables that place a window on its desktop.
struct InstanceRequest {
    std::string command;
    std::vector<std::string> environment;  // "NAME=value", only the names below
};

// The variables a request may carry; nothing else reaches the process that obeys it.
const std::vector<std::string>& desktopVariableNames();
// The request text a second start sends, from the values of its environment.
std::string instanceRequestText(const std::string& command);
// Reads a request text; unknown variable names and malformed lines are dropped.
InstanceRequest parseInstanceRequest(const std::string& text);

// The running instance's end of the socket, for an instance without an event loop: poll() now and
// then. Peers of another user are turned away.
class InstanceListener {
public:
    InstanceListener() = default;
    ~InstanceListener();
    InstanceListener(const InstanceListener&) = delete;
    InstanceListener& operator=(const InstanceListener&) = delete;

    // Replaces a socket file a dead instance left (the instance lock says none runs).
    [[nodiscard]] bool listen(const std::string& path, std::string* error);
    // A request that is waiting, without blocking for a connection; a connected peer gets up to
    // readTimeoutMs to send its request.
    std::optional<InstanceRequest> poll(int readTimeoutMs = 500);
    bool listening() const { return m_fd.valid(); }

private:
    UniqueFd m_fd;
    std::string m_path;
};

}  // namespace kestrel
