// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class DeleteCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* remove =
            app.add_subcommand("delete", "Delete a job (its backups stay where they are)");
        remove->add_option("job", m_name, "Job name")->required();
        remove->add_option("--password", m_password,
                           "The job's password, when it is protected; \"-\" reads it from "
                           "standard input");
        return remove;
    }

    int run(CliEnv& env) override {
        const auto job = env.runner.job(m_name);
        if (!job) {
            throw UsageError{"no job named \"" + m_name + "\""};
        }
        std::optional<std::string> password;
        if (job->Protected && !job->password.empty() && !m_password.empty()) {
            password = passwordArg(m_password);
        }
        const RunnerResult r = env.runner.removeJob(m_name, password);
        switch (r) {
            case RunnerResult::Done:
                env.out << "Deleted job \"" << m_name << "\".\n";
                return kExitOk;
            case RunnerResult::WrongPassword:
            case RunnerResult::NotFound:
                throw UsageError{env.runner.refusalText(r, m_name)};
            default:
                env.err << "kestrel-cli: " << env.runner.refusalText(r, m_name) << '\n';
                return kExitFailed;
        }
    }

private:
    std::string m_name;
    std::string m_password;
};

}  // namespace

std::unique_ptr<Command> makeDeleteCommand() {
    return std::make_unique<DeleteCommand>();
}

}  // namespace kestrel
