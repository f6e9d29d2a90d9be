// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/catalogue_fetch.h"

#include "archive/format.h"
#include "core/run_control.h"
#include "engine/encryption.h"
#include "ftp/ftp_client.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

// Brings one file of the destination into local. Missing when the destination has none.
enum class Got { Fetched, Missing, Failed, Refused };

Got fetchFile(RunControl& rc, const clsBackup& job, FtpClient* session,
              const RemoteListing* listing, const std::string& file, const std::string& local,
              std::string* error) {
    // A local copy of an earlier fetch would make the download ask before replacing it.
    fs::removeLeftover(local);
    if (job.destFTP) {
        if (listing != nullptr && listing->count(file) == 0) {
            return Got::Missing;
        }
        const std::string remote = remoteJoin(job.sDestinationDir, file);
        if (session != nullptr &&
            session->GetFile(remote, local) == FtpClient::GetResult::Downloaded) {
            return Got::Fetched;
        }
        rc.WriteLog(rc.messages.format("strMsgDownloadFailed", {{"%d", remote}}));
        // Without a listing a server does not tell a missing file from a failed download.
        if (listing == nullptr) {
            return Got::Missing;
        }
        return session != nullptr && session->lastReplyCode() / 100 == 5 ? Got::Refused
                                                                         : Got::Failed;
    }
    const std::string stored = fs::join(job.sDestinationDir, file);
    if (!fs::exists(stored)) {
        return Got::Missing;
    }
    if (Status copied; !fs::copyFile(stored, local, &copied)) {
        tellError(copied, error);
        rc.WriteLog(rc.messages.format("strMsgDownloadFailed", {{"%d", stored}}) + " (" +
                    copied.text() + ")");
        return Got::Failed;
    }
    return Got::Fetched;
}

SumsFile fetchSums(RunControl& rc, const std::string& tool, const clsBackup& job,
                   FtpClient* session, const RemoteListing* listing, const std::string& folder,
                   const std::string& catalogue, const std::string& password, bool* copyFailed,
                   SumsIndex::Keep keep, std::vector<Digest> wanted) {
    const std::string file = catalogue + std::string(kSumsSuffix);
    const std::string local = fs::join(folder, file);
    SumsFile sums;
    std::string error;
    const Got got = fetchFile(rc, job, session, listing, file, local, &error);
    if (got == Got::Missing) {
        rc.WriteLog(rc.messages.format("strMsgNoSumsFile", {{"%d", file}}));
        fs::removeLeftover(local);
        return sums;
    }
    if (got != Got::Fetched) {
        fs::removeLeftover(local);
        sums.status = SumsFile::Status::Damaged;
        sums.error = error.empty() ? file + " could not be fetched" : error;
        *copyFailed = true;
        return sums;
    }
    if (job.Protected && !DecryptFile(rc, tool, local, password, &error)) {
        fs::removeLeftover(local);
        sums.status = SumsFile::Status::Damaged;
        sums.error = error;
        return sums;
    }
    sums = ReadSums(local, keep, std::move(wanted));
    if (sums.status == SumsFile::Status::Read) {
        for (size_t line : sums.sums->skippedLines) {
            rc.WriteLog(rc.messages.format("strMsgCatalogueLineSkipped",
                                           {{"%d", file}, {"%i", std::to_string(line)}}));
        }
    }
    return sums;
}

MetaFile fetchMeta(RunControl& rc, const std::string& tool, const clsBackup& job,
                   FtpClient* session, const RemoteListing* listing, const std::string& folder,
                   const std::string& catalogue, const std::string& password, bool* copyFailed,
                   bool withFiles, std::optional<std::vector<Digest>> only) {
    const std::string file = catalogue + std::string(kMetaSuffix);
    const std::string local = fs::join(folder, file);
    MetaFile meta;
    std::string error;
    const Got got = fetchFile(rc, job, session, listing, file, local, &error);
    if (got == Got::Missing) {
        fs::removeLeftover(local);
        return meta;
    }
    if (got != Got::Fetched) {
        fs::removeLeftover(local);
        meta.status = MetaFile::Status::Damaged;
        meta.error = error.empty() ? file + " could not be fetched" : error;
        *copyFailed = true;
        return meta;
    }
    if (job.Protected && !DecryptFile(rc, tool, local, password, &error)) {
        fs::removeLeftover(local);
        meta.status = MetaFile::Status::Damaged;
        meta.error = error;
        return meta;
    }
    meta = ReadMeta(local, withFiles, std::move(only));
    if (meta.status == MetaFile::Status::Read) {
        for (size_t line : meta.meta->skippedLines) {
            rc.WriteLog(rc.messages.format("strMsgCatalogueLineSkipped",
                                           {{"%d", file}, {"%i", std::to_string(line)}}));
        }
    }
    return meta;
}

}  // namespace

CatalogueFetch FetchCatalogue(RunControl& rc, const std::string& tool, const clsBackup& job,
                              FtpClient* session, const std::string& folder,
                              const RemoteListing* listing, const std::string& name,
                              const std::optional<std::string>& password,
                              const std::function<bool(const clsRestoreFileData&)>& visit,
                              bool keepSums) {
    using Status = CatalogueFetch::Status;
    CatalogueFetch out;
    const std::string file = name.empty() ? job.sName + std::string(kCatalogueExtension) : name;
    const std::string& key = password ? *password : job.password;
    out.localPath = fs::join(folder, file);
    switch (fetchFile(rc, job, session, listing, file, out.localPath, &out.error)) {
        case Got::Fetched:
            break;
        case Got::Missing:
            out.status = job.destFTP && listing == nullptr ? Status::FetchFailed : Status::Missing;
            return out;
        case Got::Failed:
            out.status = Status::FetchFailed;
            return out;
        case Got::Refused:
            out.status = Status::Refused;
            out.error = "the server refuses to send it";
            return out;
    }
    if (job.Protected && !DecryptFile(rc, tool, out.localPath, key, &out.error)) {
        fs::removeLeftover(out.localPath);
        out.status = Status::DecryptFailed;
        return out;
    }
    // The lines' digests are all the checksum file's verdict needs of the records.
    std::vector<Digest> lines;
    std::vector<Digest> kept;  // of the records visit kept
    out.catalogue.emplace();
    auto scan = scanCatalogue(
        out.localPath,
        [&](clsRestoreFileData&& rec) {
            lines.push_back(rec.lineDigest);
            if (visit) {
                if (visit(rec) && keepSums) {
                    kept.push_back(rec.lineDigest);
                }
            } else {
                out.catalogue->records.push_back(std::move(rec));
            }
        },
        &out.error);
    if (!scan) {
        out.catalogue.reset();
        out.status = Status::Unreadable;
        return out;
    }
    out.catalogue->skippedLines = std::move(scan->skippedLines);
    out.cutShort = scan->cutShort;
    for (size_t line : out.catalogue->skippedLines) {
        rc.WriteLog(rc.messages.format("strMsgCatalogueLineSkipped",
                                       {{"%d", file}, {"%i", std::to_string(line)}}));
    }
    out.status = Status::Read;
    // Records visit kept: their entries alone are held.
    const bool some = visit && keepSums;
    out.sums = fetchSums(rc, tool, job, session, listing, folder, file, key, &out.sumsCopyFailed,
                         some       ? SumsIndex::Keep::Wanted
                         : keepSums ? SumsIndex::Keep::All
                                    : SumsIndex::Keep::Verdict,
                         some ? kept : std::vector<Digest>());
    if (out.sums.status == SumsFile::Status::Read) {
        // The catalogue's text matters only to a checksum file none of whose lines it holds
        // (whether one of the states it recorded is this catalogue's): read it only then.
        out.verdict = judgeSums(*out.sums.sums, {}, lines);
        std::optional<std::string> content;
        if (!out.verdict.belongs) {
            content = fs::readFile(out.localPath, &out.error);
            if (!content) {
                out.status = Status::Unreadable;
                return out;
            }
            out.verdict = judgeSums(*out.sums.sums, *content, lines);
        }
        if (out.verdict.lost > 0 && out.sums.sums->keep() != SumsIndex::Keep::All) {
            // Lost lines are named: read the names, which a run that needs only the verdict
            // does not otherwise hold.
            SumsFile named = ReadSums(fs::join(folder, file + std::string(kSumsSuffix)));
            if (named.status == SumsFile::Status::Read) {
                out.verdict = judgeSums(*named.sums, content.value_or(""), lines);
            }
        }
        if (!out.verdict.belongs) {
            rc.WriteLog(
                rc.messages.format("strMsgSumsForeign", {{"%d", file + std::string(kSumsSuffix)}}));
            out.sums = {};
            out.sumsForeign = true;
        }
    }
    lines = {};
    if (!keepSums) {
        out.sums.sums.reset();
    }
    out.meta =
        fetchMeta(rc, tool, job, session, listing, folder, file, key, &out.metaCopyFailed, keepSums,
                  some ? std::optional<std::vector<Digest>>(std::move(kept)) : std::nullopt);
    return out;
}

}  // namespace kestrel
