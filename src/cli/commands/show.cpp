// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "cli/commands/job_text.h"
#include "core/app_context.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class ShowCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* show = app.add_subcommand("show", "Show every field of a job");
        show->add_option("job", m_name, "Job name")->required();
        return show;
    }

    int run(CliEnv& env) override {
        if (env.runner.storeState() == StoreState::JobsUnreadable) {
            return reportUnreadableStore(env);
        }
        const auto job = env.runner.job(m_name);
        if (!job) {
            throw UsageError{"no job named \"" + m_name + "\""};
        }
        const Messages& m = env.ctx.messages;
        std::vector<std::vector<std::string>> rows = {
            {"Name:", job->sName},
            {"Type:", m.GetMessage(job->bIncremental ? "strMsgIncremental" : "strMsgFull")},
            {"Storage:", storageText(m, *job)},
            {"Protected:", job->passwordUnreadable ? "yes, locked: its password cannot be read"
                           : job->Protected        ? "yes"
                                                   : "no"},
            {"Destination:", destinationText(*job)}};
        if (job->destFTP && job->objDestination) {
            rows.push_back({"FTP mode:", job->objDestination->bPassiveMode ? "passive" : "active"});
            rows.push_back({"FTP TLS:", job->objDestination->bTls ? "required" : "off"});
            if (!job->objDestination->sTlsPin.empty()) {
                rows.push_back({"TLS pin:", job->objDestination->sTlsPin});
            }
        }
        rows.push_back({"Include mask:", job->IncludeMask});
        rows.push_back({"Exclude mask:", job->ExcludeMask});
        rows.push_back({"Schedule:", describeSchedule(job->Schedule.get())});
        rows.push_back({"Last OK:", lastRunText(m, *job)});
        rows.push_back({"Status:", statusText(job->enumStatus)});
        rows.push_back({"Sources:", std::to_string(job->Files.size())});
        printTable(env.out, rows);
        for (const auto& entry : job->Files) {
            if (entry->bForD == kSourceFolder) {
                env.out << "  folder  " << entry->sPath << '\n';
            } else {
                env.out << "  file    " << entry->sPath << " (" << entry->dSize << " bytes)\n";
            }
        }
        if (job->passwordUnreadable) {
            env.out << '\n' << m.format("strMsgJobLocked", {{"%d", job->sName}}) << '\n';
        }
        return kExitOk;
    }

private:
    std::string m_name;
};

}  // namespace

std::unique_ptr<Command> makeShowCommand() {
    return std::make_unique<ShowCommand>();
}

}  // namespace kestrel
