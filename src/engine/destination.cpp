// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/destination.h"

#include "core/run_control.h"
#include "platform/mounts.h"

namespace kestrel {

bool connectSession(FtpClient& session, const clsKestrel& d) {
    session.SetupConnection(d.hostname, d.port, d.username, d.password, d.bPassiveMode);
    session.SetupTls(d.bTls, d.sTlsPin);
    return session.EstablishConnection();
}

std::unique_ptr<FtpClient> openDestinationSession(RunControl& rc, const FtpClientFactory& factory,
                                                  const clsBackup& job,
                                                  std::string* shownFingerprint) {
    std::unique_ptr<FtpClient> session =
        job.destFTP && job.objDestination && factory ? factory(rc) : nullptr;
    if (!session || !connectSession(*session, *job.objDestination)) {
        if (shownFingerprint != nullptr) {
            *shownFingerprint = session ? session->serverFingerprint() : "";
        }
        rc.WriteLog(rc.msg("strMsgCantConnectToFTP"));
        return nullptr;
    }
    return session;
}

bool localDestinationAvailable(RunControl& rc, const clsBackup& job) {
    if (job.destFTP || !mounts::onUnmountedDisk(job.sDestinationDir)) {
        return true;
    }
    rc.WriteLog(rc.format("strMsgDestNotAvailable", {{"%d", job.sDestinationDir}}));
    return false;
}

}  // namespace kestrel
