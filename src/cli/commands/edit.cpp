// SPDX-License-Identifier: GPL-3.0-or-later
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
            "edit",
            "Change a job; options not given keep the job's values (see new). A job whose "
            "password cannot be read from the job store is locked: it takes only a new password, "
            "--password with --reset-protection");
        m_jobOption = edit->add_option("job", m_name, "Job name")->required();
        m_currentPasswordOption = edit->add_option(
            "--current-password", m_currentPassword,
            "The job's password, when it is protected; \"-\" reads it from standard input "
            "(asked for there when not given)");
        m_resetOption = edit->add_flag(
            "--reset-protection", m_resetProtection,
            "Give a locked job (its password cannot be read) the new password of --password, "
            "which unlocks it; nothing else is changed with it. Its earlier backups stay "
            "encrypted with the old password: set that one to restore them");
        m_options.add(*edit);
        m_command = edit;
        return edit;
    }

    int run(CliEnv& env) override {
        const auto stored = env.runner.job(m_name);
        if (!stored) {
            throw UsageError{env.runner.refusalText(RunnerResult::NotFound, m_name)};
        }
        if (stored->passwordUnreadable) {
            return resetProtection(env);
        }
        if (m_resetProtection) {
            throw UsageError{env.runner.refusalText(RunnerResult::Invalid, m_name,
                                                    {"strMsgJobNotLocked", m_name})};
        }
        checkPassword(env, *stored);

        auto job = stored->clone();
        m_options.apply(env.ctx, *job);
        const std::string warning = clearTextWarning(env.ctx.messages, *job);
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
                if (!warning.empty()) {
                    env.err << "kestrel-cli: warning: " << warning << '\n';
                }
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
    // A locked job: only --password, confirmed by --reset-protection.
    int resetProtection(CliEnv& env) const {
        if (!m_resetProtection) {
            throw CommandRefused{env.runner.refusalText(RunnerResult::PasswordUnreadable, m_name)};
        }
        const CLI::Option* passwordOption = m_command->get_option("--password");
        for (const CLI::Option* option : m_command->get_options()) {
            if (option->count() > 0 && option != m_jobOption && option != m_resetOption &&
                option != passwordOption) {
                throw UsageError{
                    "--reset-protection takes --password alone; change the job's "
                    "other settings once it has its new password"};
            }
        }
        if (passwordOption->count() == 0) {
            throw UsageError{
                "--reset-protection needs the new password: --password (\"-\" reads it from "
                "standard input)"};
        }
        const std::string password = passwordArg(passwordOption->as<std::string>());
        if (password.empty()) {
            throw UsageError{"the new password is empty"};
        }
        JobProblem problem;
        const RunnerResult r = env.runner.setNewPassword(m_name, password, &problem);
        switch (r) {
            case RunnerResult::Done:
                env.out << env.ctx.messages.format("strMsgPasswordReset", {{"%d", m_name}}) << '\n';
                return kExitOk;
            case RunnerResult::Invalid:
            case RunnerResult::NotFound:
                throw UsageError{env.runner.refusalText(r, m_name, problem)};
            default:
                env.err << "kestrel-cli: " << env.runner.refusalText(r, m_name, problem) << '\n';
                return kExitFailed;
        }
    }

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
    bool m_resetProtection = false;
    CLI::App* m_command = nullptr;
    CLI::Option* m_jobOption = nullptr;
    CLI::Option* m_currentPasswordOption = nullptr;
    CLI::Option* m_resetOption = nullptr;
    JobOptions m_options{JobOptions::Use::Edit};
};

}  // namespace

std::unique_ptr<Command> makeEditCommand() {
    return std::make_unique<EditCommand>();
}

}  // namespace kestrel
