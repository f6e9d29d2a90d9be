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

}  // namespace kestrel
