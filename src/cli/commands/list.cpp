// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "cli/commands/job_text.h"
#include "core/app_context.h"
#include "jobs/next_start.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class ListCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        return app.add_subcommand(
            "list", "List the jobs with type, next run, destination, last run, status");
    }

    int run(CliEnv& env) override {
        // "No jobs." would hide jobs the store holds but could not read.
        if (env.runner.storeState() == StoreState::JobsUnreadable) {
            return reportUnreadableStore(env);
        }
        const Jobs& jobs = env.runner.jobs();
        if (jobs.empty()) {
            env.out << "No jobs.\n";
            return kExitOk;
        }
        const Messages& m = env.ctx.messages;
        const DateTime now = env.ctx.clock.now();
        std::vector<std::vector<std::string>> rows = {
            {"NAME", "TYPE", "STORAGE", "NEXT RUN", "DESTINATION", "LAST OK", "STATUS"}};
        for (const auto& job : jobs) {
            rows.push_back({job->sName,
                            m.GetMessage(job->bIncremental ? "strMsgIncremental" : "strMsgFull"),
                            storageText(m, *job), nextRunText(*job, now, m), destinationText(*job),
                            lastRunText(m, *job),
                            job->passwordUnreadable ? "locked" : statusText(job->enumStatus)});
        }
        printTable(env.out, rows);
        for (const auto& job : jobs) {
            if (job->passwordUnreadable) {
                env.out << '\n' << m.format("strMsgJobLocked", {{"%d", job->sName}}) << '\n';
            }
        }
        return kExitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeListCommand() {
    return std::make_unique<ListCommand>();
}

}  // namespace kestrel
