#include "archive/volume_reader.h"
#include "cli/command.h"
#include "cli/commands/catalogue_support.h"
#include "core/app_context.h"
#include "platform/fs.h"
#include "platform/signals.h"

namespace kestrel {
namespace {

class VerifyCommand : public Command {
public:
    CLI::App* add(CLI::App& app) override {
        auto* verify = app.add_subcommand(
            "verify",
            "Read every file of a catalogue back from the volumes beside it and check it");
        verify->add_option("file", m_path, "Catalogue file (JOB.fs)")->required();
        auto* compressed =
            verify->add_flag("--compressed", m_compressed, "The volumes are gzip-compressed");
        verify->add_flag("--plain", m_plain, "The volumes are not compressed")
            ->excludes(compressed);
        return verify;
    }

    Needs needs() const override { return Needs::Context; }

    int run(CliEnv& env) override {
        auto catalogue = readCatalogueOrSay(m_path, env.err);
        if (!catalogue) {
            return kExitFailed;
        }
        std::optional<bool> compressed;
        if (m_compressed || m_plain) {
            compressed = m_compressed;
        }
        signals::catchStopSignals();
        RunControl& rc = env.ctx.control;
        rc.flags.bBackupRunning = true;  // so that the flags steer the reading
        FolderVolumes volumes(fs::parentOf(fs::absolutePath(m_path)));
        VolumeReader reader(&rc, volumes, compressed);
        size_t bad = 0;
        for (const clsRestoreFileData& rec : catalogue->records) {
            const ExtractResult r = reader.extract(rec, [](std::string_view) { return true; });
            if (r.status == ExtractStatus::Aborted) {
                env.err << "kestrel-cli: verification stopped\n";
                return kExitAborted;
            }
            if (r.status != ExtractStatus::Ok) {
                ++bad;
                env.out << "FAIL " << rec.dSession.format("yyyyMMddHHmmss") << ' ' << rec.fname
                        << ": " << extractStatusText(r.status) << " (" << r.detail << ")\n";
            }
        }
        rc.flags.bBackupRunning = false;
        env.out << "Verified " << catalogue->records.size()
                << " file(s): " << catalogue->records.size() - bad << " OK, " << bad << " failed";
        if (!catalogue->skippedLines.empty()) {
            env.out << ", " << catalogue->skippedLines.size() << " damaged catalogue line(s)";
        }
        env.out << ".\n";
        return bad == 0 && catalogue->skippedLines.empty() ? kExitOk : kExitFailed;
    }

private:
    std::string m_path;
    bool m_compressed = false;
    bool m_plain = false;
};

}  // namespace

std::unique_ptr<Command> makeVerifyCommand() {
    return std::make_unique<VerifyCommand>();
}

}  // namespace kestrel
