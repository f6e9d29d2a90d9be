// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "archive/catalogue.h"
#include "archive/meta.h"
#include "archive/sums.h"
#include "engine/remote_set.h"
#include "jobs/backup.h"

namespace kestrel {

class RunControl;
class FtpClient;

struct CatalogueFetch {
    enum class Status {
        Read,           // catalogue holds the records (damaged lines skipped and logged)
        Missing,        // a local destination holds no catalogue (a job that never ran)
        FetchFailed,    // it could not be downloaded or copied (logged)
        Refused,        // the FTP server lists it but refuses to send it (logged)
        DecryptFailed,  // it could not be decrypted (error says why)
        Unreadable,     // it was fetched but cannot be read (error says why)
    };
    Status status = Status::FetchFailed;
    std::optional<Catalogue> catalogue;
    std::string localPath;  // where the fetched copy lies
    // The checksum file beside it (JOB.fs.sums), fetched the same way when the catalogue was
    // read; Missing when there is none or it could not be had.
    SumsFile sums;
    // A checksum file is there but could not be copied or downloaded (sums tells it as
    // damaged).
    bool sumsCopyFailed = false;
    // The catalogue's last line lacks its line end: the next line written would be glued to it.
    bool cutShort = false;
    // What the checksum file says of the catalogue: lines it lost. A checksum file written
    // beside another catalogue is set aside (sums is then Missing, sumsForeign set, logged).
    SumsVerdict verdict;
    bool sumsForeign = false;
    // The facts file beside it (JOB.fs.meta): modes, owners, folders and links; Missing for sets
    // without one. metaCopyFailed: one is there but could not be had.
    MetaFile meta;
    bool metaCopyFailed = false;
    std::string error;
};

// Brings a job's catalogue (JOB.fs at its destination) into folder and reads it: downloaded
// through session (logged in) for FTP jobs, copied for local ones, decrypted for protected
// ones, and its checksum file with it. The one fetch that incremental runs and restores share.
// listing, when given, is what the remote folder holds: a file it lacks is Missing rather than
// failed, and one it has but cannot be had is a failure. name is the catalogue's file name
// ("" = JOB.fs) and password the one it was encrypted with ("" = the job's); tool is the
// encryption tool that decrypts it. visit, when given, is handed every record in file order
// instead of keeping them in catalogue (which then holds only the skipped lines), so that a
// large catalogue is never held whole; it returns whether it kept the record, and the checksum
// and facts files then keep the entries of the kept records only. keepSums false: the checksum
// file is read for its verdict and let go before the facts file is read (sums then tells its
// status but holds no entries), and of the facts file only the folders and links are kept.
[[nodiscard]] CatalogueFetch FetchCatalogue(
    RunControl& rc, const std::string& tool, const clsBackup& job, FtpClient* session,
    const std::string& folder, const RemoteListing* listing = nullptr, const std::string& name = "",
    const std::optional<std::string>& password = {},
    const std::function<bool(const clsRestoreFileData&)>& visit = nullptr, bool keepSums = true);

}  // namespace kestrel
