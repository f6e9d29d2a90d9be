#pragma once

#include <optional>
#include <string>

#include "archive/catalogue.h"
#include "archive/sums.h"
#include "jobs/backup.h"

namespace kestrel {

struct AppContext;
class FtpClient;

struct CatalogueFetch {
    enum class Status {
        Read,           // catalogue holds the records (damaged lines skipped and logged)
        Missing,        // a local destination holds no catalogue (a job that never ran)
        FetchFailed,    // it could not be downloaded or copied (logged)
        DecryptFailed,  // it could not be decrypted (error says why)
        Unreadable,     // it was fetched but cannot be read (error says why)
    };
    Status status = Status::FetchFailed;
    std::optional<Catalogue> catalogue;
    std::string localPath;  // where the fetched copy lies
    // The checksum file beside it (JOB.fs.sums), fetched the same way when the catalogue was
    // read; Missing when there is none or it could not be had.
    SumsFile sums;
    // A local checksum file is there but could not be copied (sums tells it as damaged).
    bool sumsCopyFailed = false;
    std::string error;
};

// Brings a job's catalogue (JOB.fs at its destination) into folder and reads it: downloaded
// through session (logged in) for FTP jobs, copied for local ones, decrypted for protected
// ones, and its checksum file with it. The one fetch that incremental runs and restores share.
[[nodiscard]] CatalogueFetch FetchCatalogue(AppContext& ctx, const clsBackup& job,
                                            FtpClient* session, const std::string& folder);

}  // namespace kestrel
