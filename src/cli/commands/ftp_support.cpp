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
    server.session = openJobSession(env, *server.job);
    return server;
}

std::unique_ptr<FtpClient> openJobSession(CliEnv& env, const clsBackup& job,
                                          const FtpClientFactory& factory) {
    std::string fingerprint;
    auto session = openDestinationSession(env.ctx.control, factory, job, &fingerprint);
    if (session) {
        return session;
    }
    std::string text = env.ctx.msg("strMsgCantConnectToFTP");
    if (!fingerprint.empty()) {
        text += "\n" + env.ctx.messages.format("strMsgFtpPinHint", {{"%f", fingerprint}});
    }
    throw UsageError{text};
}

}  // namespace kestrel
