#pragma once

#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/catalogue.h"
#include "archive/volume_reader.h"
#include "support/test_context.h"

namespace kestrel::test {

// A session of an archive named name at a fixed date.
ArchiveOptions sessionOf(const std::string& name, bool clear = true, bool zip = false);

// Adds the files to a new archive named name in the context's temporary folder and closes it.
// Returns the codes of the adds.
std::vector<clsArchive::AddResult> archiveFiles(AppContext& ctx, const std::string& name,
                                                const std::vector<std::string>& paths, bool zipped,
                                                std::int64_t splitSize = 0);

// The whole content of a gzip file (all members), as zcat prints it; of a damaged one what comes
// before the damage.
std::string gunzip(const std::string& path);

// The temporary folder's catalogue of an archive.
Catalogue catalogueOf(AppContext& ctx, const std::string& name);

// A record's bytes as the reader gives them, and the reader's result.
std::pair<ExtractResult, std::string> extracted(VolumeReader& reader,
                                                const clsRestoreFileData& rec);

}  // namespace kestrel::test
