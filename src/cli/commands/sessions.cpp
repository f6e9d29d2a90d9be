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
        return sessions;
    }

    int run(CliEnv& env) override {
        const RestoreState state = openForRestore(env, m_name);
        std::vector<std::vector<std::string>> rows = {{"SESSION", "DATE", "FILES", "BYTES"}};
        for (const SessionSummary& s : groupSessions(state.records)) {
            const int node = state.tree.find(RestoreTree::sessionKey(s.stamp));
            rows.push_back({s.stamp.format("yyyyMMddHHmmss"),
                            node >= 0 ? state.tree.node(node).text : "",
                            std::to_string(s.records.size()), thousands(s.bytes)});
        }
        printTable(env.out, rows);
        return kExitOk;
    }

private:
    std::string m_name;
};

}  // namespace

std::unique_ptr<Command> makeSessionsCommand() {
    return std::make_unique<SessionsCommand>();
}

}  // namespace kestrel
