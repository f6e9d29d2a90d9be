// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/meta.h"
#include "archive/sums.h"
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
            "Read every file of a catalogue back from the volumes beside it and check it against "
            "its digest in the checksum file beside it (JOB.fs.sums), or its crc without one");
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
        const std::string sumsPath = m_path + std::string(kSumsSuffix);
        SumsFile sums = ReadSums(sumsPath);
        SumsVerdict verdict;
        if (sums.status == SumsFile::Status::Read) {
            std::vector<Digest> lines;
            for (const clsRestoreFileData& rec : catalogue->records) {
                lines.push_back(rec.lineDigest);
            }
            verdict = judgeSums(*sums.sums, fs::readFile(m_path).value_or(""), lines);
            if (!verdict.belongs) {
                env.err << "kestrel-cli: " << sumsPath
                        << " does not belong to this catalogue and is ignored; files are checked "
                           "with the catalogue's crc only\n";
                sums = {};
            }
        }
        // The facts file: modes, owners, folders and links the restore gives back.
        const std::string metaPath = m_path + std::string(kMetaSuffix);
        const MetaFile meta = ReadMeta(metaPath);
        bool metaOk = true;
        if (meta.status == MetaFile::Status::Damaged) {
            env.err << "kestrel-cli: the facts file is damaged (" << meta.error
                    << "); files are restored with their attribute bits only\n";
            metaOk = false;
        } else if (meta.status == MetaFile::Status::Read && !meta.meta->skippedLines.empty()) {
            env.err << "kestrel-cli: " << meta.meta->skippedLines.size() << " damaged line(s) in "
                    << metaPath << '\n';
            metaOk = false;
        }
        if (sums.status == SumsFile::Status::Damaged) {
            env.err << "kestrel-cli: the checksum file is damaged (" << sums.error
                    << "); files are checked with the catalogue's crc only\n";
        } else if (sums.status == SumsFile::Status::Read && !sums.sums->skippedLines.empty()) {
            env.err << "kestrel-cli: " << sums.sums->skippedLines.size() << " damaged line(s) in "
                    << sumsPath << '\n';
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
        size_t strong = 0;
        size_t weak = 0;
        for (const clsRestoreFileData& rec : catalogue->records) {
            const Digest* expected = nullptr;
            const CheckKind kind = checkKindFor(sums.sums ? &*sums.sums : nullptr, rec.lineDigest,
                                                rec.lineIndex, &expected);
            ExtractResult r;
            if (kind == CheckKind::Unmatched) {
                r.status = ExtractStatus::Unmatched;
                r.detail = "the checksum file holds no digest for its line";
            } else {
                r = reader.extract(
                    rec, [](std::string_view) { return true; }, nullptr, expected);
                ++(kind == CheckKind::Strong ? strong : weak);
            }
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
        if (verdict.lost > 0) {
            env.out << verdict.lost
                    << " file(s) that the checksum file knows are missing from the catalogue:\n";
            for (const std::string& name : verdict.lostNames) {
                env.out << "LOST "
                        << (name.empty() ? "(a file of an older version, unnamed)" : name) << '\n';
            }
        }
        if (meta.meta) {
            size_t withFacts = 0;
            for (const clsRestoreFileData& rec : catalogue->records) {
                withFacts += meta.meta->find(rec.lineDigest) != nullptr ? 1 : 0;
            }
            size_t folders = 0;
            size_t links = 0;
            for (const SessionFacts& s : meta.meta->sessions) {
                folders += s.folders.size();
                links += s.links.size();
            }
            env.out << withFacts << " file(s) with their mode and owner, " << folders
                    << " folder(s) and " << links << " link(s) recorded in " << metaPath << ".\n";
        }
        if (strong > 0) {
            env.out << strong << " file(s) checked with their BLAKE2b digest.\n";
        }
        if (weak > 0) {
            env.out << weak
                    << " file(s) checked with the catalogue's crc only: a weak check that misses "
                       "swapped or shifted data"
                    << (sums.status == SumsFile::Status::Missing ? " (no checksum file)" : "")
                    << ".\n";
        }
        const bool sumsOk = sums.status != SumsFile::Status::Damaged &&
                            (!sums.sums || sums.sums->skippedLines.empty());
        return bad == 0 && catalogue->skippedLines.empty() && sumsOk && metaOk && verdict.lost == 0
                   ? kExitOk
                   : kExitFailed;
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
