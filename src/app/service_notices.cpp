// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/service_notices.h"

#include "core/app_context.h"

namespace kestrel {

ServiceNotices::ServiceNotices(AppContext& ctx, JobRunner& runner, DesktopNotifier notify)
    : m_ctx(ctx), m_runner(runner), m_notify(std::move(notify)) {
    m_runner.addObserver(this);
}

ServiceNotices::~ServiceNotices() {
    m_runner.removeObserver(this);
}

void ServiceNotices::activityStarted(const Activity& activity) {
    // Before the run marks its job failed until it ends: the outcome of the run before. A run
    // that never ended (the machine went off) counts as failed too.
    const auto job = m_runner.job(activity.job);
    m_failedBefore = activity.kind == Activity::Kind::Backup && job != nullptr &&
                     job->enumStatus == kStatusFailed;
}

void ServiceNotices::backupFinished(const std::string& job, const RunSummary& summary) {
    // An aborted run was stopped by someone who knows.
    if (summary.status == kStatusFailed) {
        m_notify(m_ctx.messages.format("strMsgBackupFailed", {{"%d", job}}),
                 m_ctx.control.failureDetails(), true);
    } else if (summary.status == kStatusOk && m_failedBefore) {
        m_notify(m_ctx.messages.format("strMsgBackupOkAgain", {{"%d", job}}), "", false);
    }
}

}  // namespace kestrel
