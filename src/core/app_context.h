// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/engine_flags.h"
#include "core/host.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/run_control.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/settings_store.h"

namespace kestrel {

// Everything the program shares between its parts, built once by the front end (desktop
// program, command line, service or test) and passed by reference. The clock and the host
// belong to the front end and must outlive the context. The jobs are not here: the job runner
// owns them, above the layers that only need this.
struct AppContext {
    AppContext(ProgramFolder folder, Clock& clockRef, Host& hostRef);
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // Creates the program folder (private to the user), reads the start-up settings and builds
    // the message table in the chosen language. False (with *error) when the program folder
    // cannot be created.
    [[nodiscard]] bool initialise(std::string* error = nullptr);

    // Shorthands for the common use of the message table and the log.
    const std::string& msg(std::string_view key) const { return messages.GetMessage(key); }
    void WriteLog(std::string_view text) { log.WriteLog(text); }

    std::string storePath() const { return paths.path("backups.ini"); }

    ProgramFolder paths;
    Clock& clock;
    Host& host;
    SettingsStore settingsStore;
    Settings settings;
    Messages messages;
    Log log;
    EngineFlags flags;
    // The narrow view of the above that long operations take.
    RunControl control;
};

}  // namespace kestrel
