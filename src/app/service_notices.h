// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include "runner/job_runner.h"

namespace kestrel {

// A desktop notification: its summary, its body, and whether it tells of a failure. The sender
// returns nothing: where no notification server listens, the log line is the only trace.
using DesktopNotifier =
    std::function<void(const std::string& summary, const std::string& body, bool failure)>;

// What the program without a window tells the desktop user of its scheduled runs: each run that
// failed, and once the run of a job that succeeded after failed ones.
class ServiceNotices final : private RunnerObserver {
public:
    ServiceNotices(AppContext& ctx, JobRunner& runner, DesktopNotifier notify);
    ~ServiceNotices() override;
    ServiceNotices(const ServiceNotices&) = delete;
    ServiceNotices& operator=(const ServiceNotices&) = delete;

private:
    void activityStarted(const Activity& activity) override;
    void backupFinished(const std::string& job, const RunSummary& summary) override;

    AppContext& m_ctx;
    JobRunner& m_runner;
    DesktopNotifier m_notify;
    bool m_failedBefore = false;
};

}  // namespace kestrel
