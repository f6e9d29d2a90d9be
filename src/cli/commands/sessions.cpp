// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/sessions.h"
#include "cli/command.h"
#include "cli/commands/restore_support.h"

namespace kestrel {
namespace {

class SessionsCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* sessions =
            app.add_subcommand("sessions", "List the backup sessions a job's catalogue holds");
        sessions->add_option("job", m_name, "Job name")->required();
        addKeptPasswordOption(*sessions, m_keptPassword);
        return sessions;
    }

    int run(CliEnv& env) override {
        const RestoreState state = openForRestore(env, m_name, m_keptPassword);
        std::vector<std::vector<std::string>> rows = {
            {"SESSION", "DATE", "FILES", "BYTES", "CATALOGUE"}};
        for (const SessionSummary& s : groupSessions(state.records)) {
            const int node = state.tree.find(RestoreTree::sessionKey(s.stamp));
            const clsRestoreFileData& first = state.records[s.records.front()];
            rows.push_back({s.stamp.format("yyyyMMddHHmmss"),
                            node >= 0 ? state.tree.node(node).text : "",
                            std::to_string(s.records.size()), thousands(s.bytes),
                            state.sources.at(first.source).file});
        }
        printTable(env.out, rows);
        return state.lockedSources.empty() ? kExitOk : kExitFailed;
    }

private:
    std::string m_name;
    std::string m_keptPassword;
};

}  // namespace

std::unique_ptr<Command> makeSessionsCommand() {
    return std::make_unique<SessionsCommand>();
}

}  // namespace kestrel
