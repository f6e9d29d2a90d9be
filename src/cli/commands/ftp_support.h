// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "cli/command.h"
#include "ftp/ftp_client.h"
#include "jobs/backup.h"

namespace kestrel {

// A logged-in session with the FTP server of the job named name, and the job. Usage errors for
// an unknown job, a job without an FTP destination and a server that cannot be reached.
struct JobServer {
    std::shared_ptr<const clsBackup> job;
    std::unique_ptr<FtpClient> session;
};
JobServer connectToJobServer(CliEnv& env, const std::string& name);

// A logged-in session with the FTP server of job, made by factory. A usage error when the server
// cannot be reached; when it showed a certificate that is not trusted, the error gives its
// fingerprint and how to pin it.
std::unique_ptr<FtpClient> openJobSession(CliEnv& env, const clsBackup& job,
                                          const FtpClientFactory& factory = makeFtpClient);

}  // namespace kestrel
