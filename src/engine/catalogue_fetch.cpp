#include "engine/catalogue_fetch.h"

#include "archive/format.h"
#include "core/app_context.h"
#include "engine/encryption.h"
#include "ftp/ftp_client.h"
#include "platform/fs.h"

namespace kestrel {

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
    return out;
}

}  // namespace kestrel
