// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"
#include "cli/commands/restore_support.h"
#include "platform/fs.h"
#include "platform/signals.h"
#include "restore/sessions.h"
#include "runner/job_runner.h"

namespace kestrel {
namespace {

class RestoreCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* restore = app.add_subcommand(
            "restore", "Restore files or folders (everything below them) of a job's backups");
        restore->add_option("job", m_name, "Job name")->required();
        restore->add_option("path", m_paths, "Files or folders as they were backed up")->required();
        restore->add_option("--session", m_session,
                            "Session stamp YYYYMMDDhhmmss; default: per file the newest session "
                            "that holds it");
        restore->add_option("--to", m_to,
                            "Restore below this folder (rebuilding the original folders) "
                            "instead of to the original paths");
        restore->add_flag("--overwrite", m_overwrite, "Replace existing files without asking");
        addKeptPasswordOption(*restore, m_keptPassword);
        return restore;
    }

    int run(CliEnv& env) override {
        // Only the records of the given paths are kept: a large catalogue is read, not held.
        RestoreState state = openForRestore(env, m_name, m_keptPassword, PathFilter(m_paths));
        const std::vector<size_t> chosen =
            recordsToRestore(state.records, m_paths, sessionArg(m_session));
        // Links and empty folders below the paths come back too.
        size_t chosenLinks = 0;
        for (int node : extrasToRestore(state, m_paths, sessionArg(m_session))) {
            state.tree.setChecked(node, true);
            chosenLinks += state.tree.node(node).link >= 0 ? 1 : 0;
        }
        if (chosen.empty() && chosenLinks == 0) {
            throw UsageError{"no file of the catalogue matches the given path(s)"};
        }
        size_t unreachable = 0;
        for (size_t index : chosen) {
            const clsRestoreFileData& rec = state.records[index];
            const int node = state.tree.findPath(rec.dSession, rec.fname);
            if (node >= 0) {
                state.tree.setChecked(node, true);
            } else {
                // A name the tree cannot hold ("a/./b", "x/../y") is not restored: say so.
                env.err << "kestrel-cli: " << rec.fname << " is not restored: its name is not a "
                        << "plain path\n";
                ++unreachable;
            }
        }
        RestoreOptions options;
        options.toOriginal = m_to.empty();
        options.folder = m_to.empty() ? "" : fs::absolutePath(m_to);
        options.overwrite = m_overwrite;
        signals::catchStopSignals();
        RestoreSummary summary;
        const RunnerResult r = env.runner.restore(state, options, &summary);
        if (r != RunnerResult::Done) {
            env.err << "kestrel-cli: " << env.runner.refusalText(r, m_name) << '\n';
            return kExitFailed;
        }
        if (summary.aborted) {
            return kExitAborted;
        }
        if (!state.skippedLineNumbers.empty()) {
            env.err << "kestrel-cli: damaged catalogue line(s) skipped:";
            for (size_t line : state.skippedLineNumbers) {
                env.err << ' ' << line;
            }
            env.err << '\n';
        }
        if (state.lost > 0) {
            env.err << "kestrel-cli: " << state.lost
                    << " file(s) that the checksum files know are missing from the catalogue "
                       "and cannot be restored:";
            for (const std::string& name : state.lostFiles) {
                env.err << "\n  " << (name.empty() ? "(unnamed)" : name);
            }
            env.err << '\n';
        }
        const bool all = summary.restored == static_cast<std::int64_t>(chosen.size() + chosenLinks);
        return all && unreachable == 0 && summary.failed == 0 && summary.skipped == 0 &&
                       state.skippedLineNumbers.empty() && state.lost == 0
                   ? kExitOk
                   : kExitFailed;
    }

private:
    std::string m_name;
    std::vector<std::string> m_paths;
    std::string m_session;
    std::string m_to;
    std::string m_keptPassword;
    bool m_overwrite = false;
};

}  // namespace

std::unique_ptr<Command> makeRestoreCommand() {
    return std::make_unique<RestoreCommand>();
}

}  // namespace kestrel
