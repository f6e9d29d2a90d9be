// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "jobs/backup.h"

namespace kestrel::bench {

// A job over one source folder into a local destination (made when missing); an archived job
// is compressed unless the caller clears bZipped.
inline std::unique_ptr<clsBackup> makeJob(const std::string& name, const std::string& source,
                                          const std::string& dest, bool archived,
                                          bool incremental) {
    std::filesystem::create_directories(dest);
    auto job = std::make_unique<clsBackup>();
    job->sName = name;
    job->sDestinationDir = dest;
    job->archived = archived;
    job->bZipped = archived;
    job->bIncremental = incremental;
    job->IncludeMask = "*.*";
    job->AddFile(std::make_unique<clsBackupFile>(clsBackupFile{source, kSourceFolder, 0, 0}));
    return job;
}

}  // namespace kestrel::bench
