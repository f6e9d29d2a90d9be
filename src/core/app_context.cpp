// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/app_context.h"

namespace kestrel {

AppContext::AppContext(ProgramFolder folder, Clock& clockRef, Host& hostRef)
    : paths(std::move(folder)),
      clock(clockRef),
      host(hostRef),
      settingsStore(paths.path("settings.ini")),
      settings(settingsStore),
      log(paths.path("logs"), clockRef, hostRef),
      control(flags, hostRef, clockRef, messages, log) {}

bool AppContext::initialise(std::string* error) {
    if (!paths.create(error)) {
        return false;
    }
    settings.loadStartupValues(paths);
    messages.FillMessages(settings.languageFilePath);
    return true;
}

}  // namespace kestrel
