#include "cli/command.h"
#include "core/app_context.h"
#include "engine/destination.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class FtpMkdirCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* mkdir = app.add_subcommand("ftp-mkdir", "Create a folder on a job's FTP server");
        mkdir->add_option("job", m_name, "Job name")->required();
        mkdir->add_option("path", m_path, "Remote folder to create")->required();
        return mkdir;
    }

    int run(CliEnv& env) override {
        const auto job = env.runner.job(m_name);
        if (!job) {
            throw UsageError{env.runner.refusalText(RunnerResult::NotFound, m_name)};
        }
        if (!job->destFTP || !job->objDestination) {
            throw UsageError{"job \"" + m_name + "\" has no FTP destination"};
        }
        auto session = openDestinationSession(env.ctx.control, makeFtpClient, *job);
        if (!session) {
            throw UsageError{env.ctx.msg("strMsgCantConnectToFTP")};
        }
        std::string path = m_path;
        const bool made = session->CreateFTPDirectory(path);
        session->Disconnect();
        if (!made) {
            throw UsageError{env.ctx.msg("strMsgCantCreateDirectory") + " (" + path + ")"};
        }
        env.out << "Created " << path << ".\n";
        return kExitOk;
    }

private:
    std::string m_name;
    std::string m_path;
};

}  // namespace

std::unique_ptr<Command> makeFtpMkdirCommand() {
    return std::make_unique<FtpMkdirCommand>();
}

}  // namespace kestrel
