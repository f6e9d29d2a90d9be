// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// The system's service manager as the program needs it: register itself as a service that starts
// with the user's session, remove that registration, stop and start it, and write to the system
// log. On Linux this is the systemd user manager (systemctl --user, unit kestrel.service).
class ServiceManager {
public:
    virtual ~ServiceManager() = default;

    // Whether a service manager is reachable at all. Without one the program ignores its service
    // command lines.
    virtual bool available() = 0;
    // Registers the service and starts it: executable is the absolute path of the program,
    // started with the argument "/service start"; home (when set) is the program folder the
    // service is to use. A unit installed with the executable's package is enabled as it is;
    // otherwise the user gets a unit of their own. True only when every step succeeded; *error
    // says which failed.
    [[nodiscard]] virtual bool install(const std::string& executable,
                                       const std::optional<std::string>& home,
                                       std::string* error) = 0;
    // Removes the registration (the unit's file included). True only when every step succeeded.
    [[nodiscard]] virtual bool uninstall(std::string* error) = 0;
    // Whether the service is running now.
    virtual bool running() = 0;
    virtual bool stop(std::string* error) = 0;
    virtual bool start(std::string* error) = 0;
    // Whether this process is the service, started by the service manager.
    virtual bool isThisProcessTheService() = 0;
    // An entry in the system log (syslog), under the program's name.
    virtual void logEvent(int type, int id, const std::string& text) = 0;
};

// The unit's name, and the text of its file for an executable and a program folder.
inline constexpr const char* kServiceUnitName = "kestrel.service";
std::string serviceUnitText(const std::string& executable, const std::optional<std::string>& home);

// The systemd user manager, driven through systemctl found on PATH. unitFolder is where the unit
// file goes: ${XDG_CONFIG_HOME:-~/.config}/systemd/user when empty.
std::unique_ptr<ServiceManager> makeSystemdUserManager(std::string unitFolder = "");

}  // namespace kestrel
