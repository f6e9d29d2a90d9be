// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/backup.h"

namespace kestrel {

clsBackupFile* clsBackup::AddFile(std::unique_ptr<clsBackupFile> entry) {
    if (!entry) {
        return nullptr;
    }
    entry->Index = static_cast<std::int32_t>(Files.size());
    Files.push_back(std::move(entry));
    return Files.back().get();
}

std::unique_ptr<clsBackup> clsBackup::clone() const {
    auto copy = std::make_unique<clsBackup>();
    copy->IncludeMask = IncludeMask;
    copy->ExcludeMask = ExcludeMask;
    copy->RunSize = RunSize;
    copy->Protected = Protected;
    copy->password = password;
    copy->passwordUnreadable = passwordUnreadable;
    copy->storedProtection = storedProtection;
    copy->Schedule = Schedule ? std::make_shared<clsSchedule>(*Schedule) : nullptr;
    copy->lastOK = lastOK;
    copy->destFTP = destFTP;
    copy->enumStatus = enumStatus;
    copy->archived = archived;
    copy->splitSize = splitSize;
    copy->objDestination = objDestination ? std::make_shared<clsKestrel>(*objDestination) : nullptr;
    copy->bIncremental = bIncremental;
    for (const auto& entry : Files) {
        copy->Files.push_back(std::make_unique<clsBackupFile>(*entry));
    }
    copy->sDestinationDir = sDestinationDir;
    copy->bZipped = bZipped;
    copy->nextStart = nextStart;
    copy->sName = sName;
    return copy;
}

}  // namespace kestrel
