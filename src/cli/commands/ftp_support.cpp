// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands/ftp_support.h"

#include "core/app_context.h"
#include "engine/destination.h"
#include "runner/job_runner.h"

namespace kestrel {

JobServer connectToJobServer(CliEnv& env, const std::string& name) {
    JobServer server;
    server.job = env.runner.job(name);
    if (!server.job) {
        throw UsageError{env.runner.refusalText(RunnerResult::NotFound, name)};
    }
    if (!server.job->destFTP || !server.job->objDestination) {
        throw UsageError{"job \"" + name + "\" has no FTP destination"};
    }
    server.session = openDestinationSession(env.ctx.control, makeFtpClient, *server.job);
    if (!server.session) {
        throw UsageError{env.ctx.msg("strMsgCantConnectToFTP")};
    }
    return server;
}

}  // namespace kestrel
