// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// One entry of a remote folder listing.
struct clsFTPFile {
    std::string strName;
    bool bDir = false;
    std::int64_t dSize = 0;
    std::string strDate;
    std::string rights;
};

// Parses the complete lines of a "LIST" block into entries appended to list, and leaves an
// unfinished last line in block for the next block to complete (at the end of the data, call it
// once more with the rest followed by CR LF). Lines in the Unix long format are read by fields
// (type and permissions, links, owner, group, size, month, day, time or year, then the name with
// its inner blanks); other lines take their name from column 56 on.
void ParseListing(std::string& block, std::vector<clsFTPFile>& list);

}  // namespace kestrel
