// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_app.h"

#include "cli/command.h"
#include "cli/console_host.h"
#include "core/app_context.h"
#include "core/version.h"
#include "platform/terminal.h"
#include "runner/job_runner.h"

namespace kestrel {

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, Clock& clock) {
    CLI::App app{"kestrel-cli: run and manage Kestrel backup jobs without the desktop window.",
                 "kestrel-cli"};
    app.require_subcommand(1);
    app.set_version_flag("-V,--version", "kestrel-cli " + versionText(),
                         "Print the version and exit");
    app.fallthrough();
    std::string home;
    app.add_option("--home", home,
                   "Program folder (job store, settings, logs, temp). Default: $KESTREL_HOME, "
                   "else ${XDG_DATA_HOME:-~/.local/share}/kestrel");

    std::vector<std::unique_ptr<Command>> commands;
    for (auto make :
         {makeListCommand, makeShowCommand, makeNewCommand, makeEditCommand, makeDeleteCommand,
          makeRunCommand, makeSessionsCommand, makeLsCommand, makeRestoreCommand, makeFtpLsCommand,
          makeFtpMkdirCommand, makeCatalogueCommand, makeVerifyCommand}) {
        commands.push_back(make());
    }
    std::vector<std::pair<CLI::App*, Command*>> subcommands;
    for (const auto& command : commands) {
        subcommands.emplace_back(command->add(app), command.get());
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        const auto extras = app.remaining();
        if (app.get_subcommands().empty() && !extras.empty()) {
            err << "kestrel-cli: unknown command \"" << extras.front() << "\"";
        } else {
            err << "kestrel-cli: " << e.what();
        }
        err << "\nRun with --help for more information.\n";
        return kExitBadUsage;
    }
    Command* chosen = nullptr;
    for (const auto& [sub, command] : subcommands) {
        if (*sub) {
            chosen = command;
        }
    }
    if (chosen == nullptr) {
        return kExitBadUsage;
    }

    ConsoleHost host(err, terminal::isTerminal(terminal::Stream::Err));
    AppContext ctx(
        ProgramFolder::resolve(home.empty() ? std::nullopt : std::optional<std::string>(home)),
        clock, host);
    std::string error;
    if (!ctx.initialise(&error)) {
        err << "kestrel-cli: " << error << '\n';
        return kExitFailed;
    }
    JobRunner runner(ctx);
    if (chosen->needs() == Command::Needs::Jobs) {
        if (!runner.readJobs()) {
            err << "kestrel-cli: " << ctx.msg("strMsgSystemVarsError") << '\n';
            return kExitFailed;
        }
        runner.removeRunLeftovers();
    }
    CliEnv env{ctx, runner, out, err};
    try {
        return chosen->run(env);
    } catch (const UsageError& e) {
        err << "kestrel-cli: " << e.message << '\n';
        return kExitBadUsage;
    } catch (const CommandRefused& e) {
        err << "kestrel-cli: " << e.message << '\n';
        return kExitFailed;
    }
}

}  // namespace kestrel
