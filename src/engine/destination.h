// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "ftp/ftp_client.h"
#include "jobs/backup.h"

namespace kestrel {

class RunControl;

// Sets the session up for the job's FTP server and logs in; false (with the session's log
// lines) when that fails.
bool connectSession(FtpClient& session, const clsKestrel& destination);

// A logged-in session with the job's FTP server, made by factory. Null when the job has no FTP
// destination, no session can be made, or the server cannot be reached (logged); then
// *shownFingerprint, when given, is the fingerprint of the certificate the server showed ("" for
// none), so that the user can be asked to pin it.
std::unique_ptr<FtpClient> openDestinationSession(RunControl& rc, const FtpClientFactory& factory,
                                                  const clsBackup& job,
                                                  std::string* shownFingerprint = nullptr);

// Whether the job's local destination folder can be used. False (logged, naming the folder)
// when it is missing and lies on a removable disk that is not mounted: making it would put the
// backup on the system disk, where it would be lost with the disk it was meant to spare. True
// for FTP destinations.
[[nodiscard]] bool localDestinationAvailable(RunControl& rc, const clsBackup& job);

}  // namespace kestrel
