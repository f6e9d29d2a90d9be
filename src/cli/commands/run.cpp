// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "core/app_context.h"
#include "platform/signals.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class RunCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* run = app.add_subcommand(
            "run",
            "Run a job now: progress, log lines and summary on the error stream. Exit code 0 "
            "when every file was stored, 1 when not (or another backup is running in the "
            "program folder), 3 when stopped (Ctrl-C)");
        run->add_option("job", m_name, "Job name")->required();
        return run;
    }

    int run(CliEnv& env) override {
        if (!env.runner.job(m_name)) {
            throw UsageError{env.runner.refusalText(RunnerResult::NotFound, m_name)};
        }
        signals::catchStopSignals();
        RunSummary summary;
        const RunnerResult r = env.runner.RunBackup(m_name, &summary);
        if (r == RunnerResult::NotFound) {
            throw UsageError{env.runner.refusalText(r, m_name)};
        }
        if (r != RunnerResult::Done) {
            return kExitFailed;  // the refusal is logged
        }
        if (summary.status == kStatusAborted) {
            return kExitAborted;
        }
        return summary.status == kStatusOk && summary.notStored == 0 && summary.outcomeSaved
                   ? kExitOk
                   : kExitFailed;
    }

private:
    std::string m_name;
};

}  // namespace

std::unique_ptr<Command> makeRunCommand() {
    return std::make_unique<RunCommand>();
}

}  // namespace kestrel
