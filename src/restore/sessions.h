// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "platform/date_time.h"

namespace kestrel {

// One backup session of a catalogue: the records it stored and the volumes they lie in.
struct SessionSummary {
    DateTime stamp;
    std::vector<size_t> records;  // indexes into the catalogue's records, in catalogue order
    std::int64_t bytes = 0;
    std::vector<std::string> volumes;  // base names, in the order first used
};

// The sessions of a catalogue's records, in the order they first appear.
std::vector<SessionSummary> groupSessions(const std::vector<clsRestoreFileData>& records);

// The newest session of the records; the zero date when there are none.
DateTime newestSession(const std::vector<clsRestoreFileData>& records);

// Whether a file lies at or below one of the paths ("/" stands for all; trailing "/" ignored).
class PathFilter {
public:
    explicit PathFilter(const std::vector<std::string>& paths);
    bool operator()(const std::string& fname) const;

private:
    std::vector<std::string> m_paths;
};

// The records to restore for the given paths (files, or folders standing for everything below
// them; "/" for all): per file, its record of the given session, or without one, of the newest
// session that holds it. Indexes into records, in catalogue order.
std::vector<size_t> recordsToRestore(const std::vector<clsRestoreFileData>& records,
                                     const std::vector<std::string>& paths,
                                     const std::optional<DateTime>& session);

}  // namespace kestrel
