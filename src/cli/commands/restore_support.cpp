// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands/restore_support.h"

#include "archive/catalogue.h"
#include "cli/commands/ftp_support.h"
#include "core/app_context.h"
#include "engine/destination.h"
#include "runner/job_runner.h"

namespace kestrel {

RestoreState openForRestore(CliEnv& env, const std::string& name, const std::string& keptPassword,
                            std::function<bool(const std::string&)> keep) {
    const auto job = env.runner.job(name);
    if (!job) {
        throw UsageError{env.runner.refusalText(RunnerResult::NotFound, name)};
    }
    if (job->passwordUnreadable) {
        // Before any server is asked: the sets need the password that cannot be read.
        throw CommandRefused{env.runner.refusalText(RunnerResult::PasswordUnreadable, name)};
    }
    RestoreState state;
    state.keepRecord = std::move(keep);
    std::optional<std::string> given;
    state.askPassword = [&](const std::string& catalogue) -> std::optional<std::string> {
        if (keptPassword.empty()) {
            env.err << "kestrel-cli: " << catalogue
                    << " does not open with the job's password; give the password it was "
                       "written with as --kept-password (\"-\" reads it from standard input)\n";
            return std::nullopt;
        }
        if (!given) {
            given = passwordArg(keptPassword);
        }
        return given;
    };
    if (job->destFTP) {
        state.ftp = openJobSession(env, *job);
    }
    const RunnerResult r = env.runner.openRestore(name, state);
    if (r == RunnerResult::Failed) {
        throw UsageError{env.ctx.msg("strMsgCantCreateRestList")};
    }
    if (r != RunnerResult::Done) {
        throw UsageError{env.runner.refusalText(r, name)};
    }
    state.askPassword = nullptr;
    return state;
}

void addKeptPasswordOption(CLI::App& command, std::string& value) {
    command.add_option("--kept-password", value,
                       "The password of a catalogue kept from before a password change, when "
                       "the job's password does not open it; \"-\" reads it from standard input");
}

std::optional<DateTime> sessionArg(const std::string& stamp) {
    if (stamp.empty()) {
        return std::nullopt;
    }
    auto parsed = ParseSessionStamp(stamp);
    if (!parsed || parsed->format("yyyyMMddHHmmss") != stamp) {
        throw UsageError{"--session: expected a stamp YYYYMMDDhhmmss as `sessions` lists it"};
    }
    return parsed;
}

}  // namespace kestrel
