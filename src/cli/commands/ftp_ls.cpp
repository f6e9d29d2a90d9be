// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "cli/commands/ftp_support.h"
#include "core/app_context.h"

namespace kestrel {
namespace {

class FtpLsCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* ls = app.add_subcommand("ftp-ls", "List a folder on a job's FTP server");
        ls->add_option("job", m_name, "Job name")->required();
        ls->add_option("path", m_path, "Remote folder (default: the job's destination)");
        return ls;
    }

    int run(CliEnv& env) override {
        JobServer server = connectToJobServer(env, m_name);
        FtpClient* session = server.session.get();
        const std::string folder = m_path.empty() ? server.job->sDestinationDir : m_path;
        if (!folder.empty() && !session->ChangeCurrentDirectory(folder)) {
            session->Disconnect();
            throw UsageError{env.ctx.messages.format("strMsgChangeDirFail", {{"%d", folder}})};
        }
        auto list = session->GetFileList();
        if (!list) {
            session->Disconnect();
            throw UsageError{env.ctx.msg("strMsgCantGetDirList")};
        }
        std::vector<std::vector<std::string>> rows;
        for (const clsFTPFile& f : *list) {
            if (f.strName.empty() || f.strName == "." || f.strName == "..") {
                continue;
            }
            rows.push_back({f.bDir ? "dir" : "file", f.bDir ? "" : thousands(f.dSize), f.strDate,
                            f.strName + (f.bDir ? "/" : "")});
        }
        env.out << session->GetRootDir() << ":\n";
        printTable(env.out, rows);
        session->Disconnect();
        return kExitOk;
    }

private:
    std::string m_name;
    std::string m_path;
};

}  // namespace

std::unique_ptr<Command> makeFtpLsCommand() {
    return std::make_unique<FtpLsCommand>();
}

}  // namespace kestrel
