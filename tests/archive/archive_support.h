// SPDX-License-Identifier: GPL-3.0-or-later
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

// Archives the files into a new archive in the temporary folder; returns the adds' codes.
std::vector<clsArchive::AddResult> archiveFiles(AppContext& ctx, const std::string& name,
                                                const std::vector<std::string>& paths, bool zipped,
                                                std::int64_t splitSize = 0);

// All members of a gzip file inflated; of a damaged one, what precedes the damage (whole false).
std::string gunzip(const std::string& path, bool* whole = nullptr);

// The temporary folder's catalogue of an archive.
Catalogue catalogueOf(AppContext& ctx, const std::string& name);

// A record's bytes as the reader gives them, and the reader's result.
std::pair<ExtractResult, std::string> extracted(VolumeReader& reader,
                                                const clsRestoreFileData& rec);

}  // namespace kestrel::test
