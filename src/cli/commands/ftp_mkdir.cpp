// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "cli/commands/ftp_support.h"
#include "core/app_context.h"

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
        JobServer server = connectToJobServer(env, m_name);
        FtpClient* session = server.session.get();
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
