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

}  // namespace kestrel
