// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/catalogue.h"
#include "cli/command.h"
#include "cli/commands/catalogue_support.h"
#include "restore/sessions.h"

namespace kestrel {
namespace {

class CatalogueCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* cat =
            app.add_subcommand("catalogue", "List the sessions and files of an archive catalogue");
        cat->add_option("file", m_path, "Catalogue file (JOB.fs)")->required();
        return cat;
    }

    Needs needs() const override { return Needs::Context; }

    int run(CliEnv& env) override {
        auto catalogue = readCatalogueOrSay(m_path, env.err);
        if (!catalogue) {
            return kExitFailed;
        }
        const std::vector<SessionSummary> sessions = groupSessions(catalogue->records);
        env.out << m_path << ": " << sessions.size() << " session(s), " << catalogue->records.size()
                << " file(s)\n";
        for (const SessionSummary& s : sessions) {
            std::string volumes;
            for (const std::string& v : s.volumes) {
                volumes += (volumes.empty() ? "" : ", ") + v;
            }
            env.out << "\nSession " << s.stamp.format("yyyy-MM-dd HH:mm:ss") << ": "
                    << s.records.size() << " file(s), " << thousands(s.bytes) << " bytes, volumes "
                    << volumes << '\n';
            std::vector<std::vector<std::string>> rows;
            for (size_t index : s.records) {
                const clsRestoreFileData& f = catalogue->records[index];
                rows.push_back({"  " + thousands(f.size),
                                f.arcStart == f.arcEnd ? f.arcStart : f.arcStart + ".." + f.arcEnd,
                                f.fname});
            }
            printTable(env.out, rows);
        }
        return catalogue->skippedLines.empty() ? kExitOk : kExitFailed;
    }

private:
    std::string m_path;
};

}  // namespace

std::unique_ptr<Command> makeCatalogueCommand() {
    return std::make_unique<CatalogueCommand>();
}

}  // namespace kestrel
