#include "cli/command.h"
#include "cli/commands/job_options.h"
#include "core/app_context.h"
#include "jobs/job_rules.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class EditCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* edit = app.add_subcommand(
            "edit", "Change a job; options not given keep the job's values (see new)");
        edit->add_option("job", m_name, "Job name")->required();
        m_currentPasswordOption = edit->add_option(
            "--current-password", m_currentPassword,
            "The job's password, when it is protected; \"-\" reads it from standard input "
            "(asked for there when not given)");
        m_options.add(*edit);
        return edit;
    }

    int run(CliEnv& env) override {
        const auto stored = env.runner.job(m_name);
        if (!stored) {
            throw UsageError{env.runner.refusalText(RunnerResult::NotFound, m_name)};
        }
        checkPassword(env, *stored);

        auto job = stored->clone();
        m_options.apply(env.ctx, *job);
        const std::string name = job->sName;
        JobProblem problem;
        const RunnerResult r = env.runner.changeJob(m_name, std::move(job), &problem);
        switch (r) {
            case RunnerResult::Done:
                // Logged once stored, so that the log never records a change that was refused.
                env.ctx.WriteLog(env.ctx.messages.format("strMsgModBackupParam", {{"%d", m_name}}));
                env.out << "Changed job \"" << m_name << "\"";
                if (name != m_name) {
                    env.out << ", now named \"" << name << "\"";
                }
                env.out << ".\n";
                return kExitOk;
            case RunnerResult::Invalid:
            case RunnerResult::NameExists:
                throw UsageError{env.runner.refusalText(r, name, problem)};
            case RunnerResult::NotFound:
                throw UsageError{env.runner.refusalText(r, m_name)};
            default:
                env.err << "kestrel-cli: " << env.runner.refusalText(r, m_name, problem) << '\n';
                return kExitFailed;
        }
    }

private:
    // Throws UsageError unless the job is unprotected or the password opens it.
    void checkPassword(CliEnv& env, const clsBackup& job) const {
        AppContext& ctx = env.ctx;
        std::optional<std::string> password;
        if (m_currentPasswordOption->count() > 0) {
            // Read even for an unprotected job, so that further lines on standard input go to
            // the options they were meant for.
            password = passwordArg(m_currentPassword);
        }
        if (!job.Protected || job.password.empty()) {
            return;
        }
        ctx.WriteLog(ctx.messages.format("strMsgReqPasswdForEdit", {{"%d", m_name}}));
        if (!password) {
            env.err << "Password of \"" << m_name << "\": " << std::flush;
            password = passwordArg("-");
        }
        if (!passwordOpens(job, *password)) {
            const std::string wrong = ctx.messages.format("strMsgWrongPWDEdit", {{"%d", m_name}});
            ctx.WriteLog(wrong);
            throw UsageError{wrong};
        }
        ctx.WriteLog(ctx.messages.format("strMsgPWDOkEdit", {{"%d", m_name}}));
    }

    std::string m_name;
    std::string m_currentPassword;
    CLI::Option* m_currentPasswordOption = nullptr;
    JobOptions m_options{JobOptions::Use::Edit};
};

}  // namespace

std::unique_ptr<Command> makeEditCommand() {
    return std::make_unique<EditCommand>();
}

}  // namespace kestrel
