// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "cli/commands/job_options.h"
#include "core/app_context.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class NewCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* create = app.add_subcommand("new", "Create a job");
        m_options.add(*create);
        return create;
    }

    int run(CliEnv& env) override {
        auto job = std::make_unique<clsBackup>();
        m_options.apply(env.ctx, *job);
        const std::string warning = clearTextWarning(env.ctx.messages, *job);

        const std::string name = job->sName;
        JobProblem problem;
        const RunnerResult r = env.runner.addJob(std::move(job), &problem);
        switch (r) {
            case RunnerResult::Done:
                env.out << "Created job \"" << name << "\".\n";
                if (!warning.empty()) {
                    env.err << "kestrel-cli: warning: " << warning << '\n';
                }
                return kExitOk;
            case RunnerResult::Invalid:
            case RunnerResult::NameExists:
                throw UsageError{env.runner.refusalText(r, name, problem)};
            default:
                env.err << "kestrel-cli: " << env.runner.refusalText(r, name, problem) << '\n';
                return kExitFailed;
        }
    }

private:
    JobOptions m_options{JobOptions::Use::New};
};

}  // namespace

std::unique_ptr<Command> makeNewCommand() {
    return std::make_unique<NewCommand>();
}

}  // namespace kestrel
