// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "cli/commands/restore_support.h"
#include "restore/sessions.h"

namespace kestrel {
namespace {

class LsCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* ls =
            app.add_subcommand("ls", "List a folder of a backup session (default: the newest)");
        ls->add_option("job", m_name, "Job name")->required();
        ls->add_option("path", m_path, "Folder or file as it was backed up")->capture_default_str();
        ls->add_option("--session", m_session, "Session stamp YYYYMMDDhhmmss (see `sessions`)");
        addKeptPasswordOption(*ls, m_keptPassword);
        return ls;
    }

    int run(CliEnv& env) override {
        std::string path = m_path;
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        // Only the records below the folder are kept; the newest session is of them all.
        const RestoreState state = openForRestore(env, m_name, m_keptPassword, PathFilter({path}));
        const DateTime session = sessionArg(m_session).value_or(state.newest);
        const int node = state.tree.findPath(session, path);
        if (node < 0) {
            throw UsageError{"\"" + path + "\" is not in session " +
                             session.format("yyyyMMddHHmmss")};
        }
        std::vector<std::vector<std::string>> rows;
        const auto& n = state.tree.node(node);
        const std::vector<int> entries = n.children.empty() ? std::vector<int>{node} : n.children;
        for (int child : entries) {
            const RestoreNode& c = state.tree.node(child);
            if (c.link >= 0) {
                const RestoreLink& l = state.links[static_cast<size_t>(c.link)];
                rows.push_back({"link", "", c.text + " -> " + l.target, ""});
            } else if (c.record >= 0 && c.children.empty()) {
                const clsRestoreFileData& r = state.records[static_cast<size_t>(c.record)];
                rows.push_back(
                    {"file", thousands(r.size), c.text,
                     r.arcStart == r.arcEnd ? r.arcStart : r.arcStart + ".." + r.arcEnd});
            } else {
                rows.push_back({"dir", "", c.text + "/", ""});
            }
        }
        env.out << "Session " << session.format("yyyyMMddHHmmss") << ", " << path << ":\n";
        printTable(env.out, rows);
        return kExitOk;
    }

private:
    std::string m_name;
    std::string m_path = "/";
    std::string m_session;
    std::string m_keptPassword;
};

}  // namespace

std::unique_ptr<Command> makeLsCommand() {
    return std::make_unique<LsCommand>();
}

}  // namespace kestrel
