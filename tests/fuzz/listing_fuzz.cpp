// SPDX-License-Identifier: GPL-3.0-or-later
// A server's LIST answer, as it arrives in blocks of any size.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ftp/listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    std::vector<clsFTPFile> list;
    std::string block;
    // The first byte chooses where the data is cut into two blocks.
    const std::size_t cut = size == 0 ? 0 : data[0] % size;
    block.assign(reinterpret_cast<const char*>(data), cut);
    ParseListing(block, list);
    block.append(reinterpret_cast<const char*>(data) + cut, size - cut);
    ParseListing(block, list);
    return 0;
}
