#include "engine/catalogue_fetch.h"

#include "archive/format.h"
#include "core/app_context.h"
#include "engine/encryption.h"
#include "ftp/ftp_client.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

SumsFile fetchSums(AppContext& ctx, const clsBackup& job, FtpClient* session,
                   const std::string& folder, bool* copyFailed) {
    const std::string file =
        job.sName + std::string(kCatalogueExtension) + std::string(kSumsSuffix);
    const std::string local = fs::join(folder, file);
    SumsFile missing;
    bool fetched = false;
    if (job.destFTP) {
        // A server does not tell a missing file from a failed download: either way the files
        // can only be checked by their crc.
        fetched = session != nullptr &&
                  session->GetFile(remoteJoin(job.sDestinationDir, file), local) == 1;
    } else {
        const std::string stored = fs::join(job.sDestinationDir, file);
        std::string error;
        fetched = fs::exists(stored) && fs::copyFile(stored, local, &error);
        if (fs::exists(stored) && !fetched) {
            missing.status = SumsFile::Status::Damaged;
            missing.error = error;
            *copyFailed = true;
        }
    }
    if (!fetched) {
        if (missing.status == SumsFile::Status::Missing) {
            ctx.WriteLog(ctx.messages.format("strMsgNoSumsFile", {{"%d", file}}));
        }
        fs::removeLeftover(local);
        return missing;
    }
    std::string error;
    if (job.Protected && !DecryptFile(ctx, local, job.password, &error)) {
        fs::removeLeftover(local);
        missing.status = SumsFile::Status::Damaged;
        missing.error = error;
        return missing;
    }
    SumsFile sums = ReadSums(local);
    if (sums.status == SumsFile::Status::Read) {
        for (size_t line : sums.sums->skippedLines) {
            ctx.WriteLog(ctx.messages.format("strMsgCatalogueLineSkipped",
                                             {{"%d", file}, {"%i", std::to_string(line)}}));
        }
    }
    return sums;
}

}  // namespace

CatalogueFetch FetchCatalogue(AppContext& ctx, const clsBackup& job, FtpClient* session,
                              const std::string& folder) {
    using Status = CatalogueFetch::Status;
    CatalogueFetch out;
    const std::string file = job.sName + std::string(kCatalogueExtension);
    out.localPath = fs::join(folder, file);
    if (job.destFTP) {
        const std::string remote = remoteJoin(job.sDestinationDir, file);
        if (session == nullptr || session->GetFile(remote, out.localPath) != 1) {
            ctx.WriteLog(ctx.messages.format("strMsgDownloadFailed", {{"%d", remote}}));
            out.status = Status::FetchFailed;
            return out;
        }
    } else {
        const std::string stored = fs::join(job.sDestinationDir, file);
        if (!fs::exists(stored)) {
            out.status = Status::Missing;
            return out;
        }
        std::string error;
        if (!fs::copyFile(stored, out.localPath, &error)) {
            ctx.WriteLog(ctx.messages.format("strMsgDownloadFailed", {{"%d", stored}}) + " (" +
                         error + ")");
            out.status = Status::FetchFailed;
            return out;
        }
    }
    if (job.Protected && !DecryptFile(ctx, out.localPath, job.password, &out.error)) {
        fs::removeLeftover(out.localPath);
        out.status = Status::DecryptFailed;
        return out;
    }
    out.catalogue = ReadCatalogue(out.localPath, &out.error);
    if (!out.catalogue) {
        out.status = Status::Unreadable;
        return out;
    }
    for (size_t line : out.catalogue->skippedLines) {
        ctx.WriteLog(ctx.messages.format("strMsgCatalogueLineSkipped",
                                         {{"%d", file}, {"%i", std::to_string(line)}}));
    }
    out.status = Status::Read;
    out.sums = fetchSums(ctx, job, session, folder, &out.sumsCopyFailed);
    return out;
}

}  // namespace kestrel
