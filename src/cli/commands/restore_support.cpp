#include "cli/commands/restore_support.h"

#include "archive/catalogue.h"
#include "core/app_context.h"
#include "engine/destination.h"
#include "runner/job_runner.h"

namespace kestrel {

RestoreState openForRestore(CliEnv& env, const std::string& name) {
    const auto job = env.runner.job(name);
    if (!job) {
        throw UsageError{env.runner.refusalText(RunnerResult::NotFound, name)};
    }
    RestoreState state;
    if (job->destFTP) {
        state.ftp = openDestinationSession(env.ctx.control, makeFtpClient, *job);
        if (!state.ftp) {
            throw UsageError{env.ctx.msg("strMsgCantConnectToFTP")};
        }
    }
    const RunnerResult r = env.runner.openRestore(name, state);
    if (r == RunnerResult::Failed) {
        throw UsageError{env.ctx.msg("strMsgCantCreateRestList")};
    }
    if (r != RunnerResult::Done) {
        throw UsageError{env.runner.refusalText(r, name)};
    }
    return state;
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
