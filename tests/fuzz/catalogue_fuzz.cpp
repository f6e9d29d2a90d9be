// SPDX-License-Identifier: GPL-3.0-or-later
// The catalogue, its line parser and its checksum file over damaged text. The input is a
// catalogue, then a NUL and a checksum file to judge it by.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "archive/catalogue.h"
#include "archive/sums.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string_view text = input.substr(0, nul);
    const Catalogue catalogue = parseCatalogue(text);
    bool complete = false;
    if (auto record = ParseCatalogueLine(text, &complete); record && complete) {
        (void)plausibleRecord(*record);
    }
    (void)countCatalogueLines(text);
    if (nul == std::string_view::npos) {
        return 0;
    }
    if (auto sums = parseSums(input.substr(nul + 1))) {
        std::vector<Digest> lines;
        for (const clsRestoreFileData& rec : catalogue.records) {
            lines.push_back(rec.lineDigest);
            const Digest* expected = nullptr;
            (void)checkKindFor(&*sums, rec.lineDigest, rec.lineIndex, &expected);
        }
        const SumsVerdict verdict = judgeSums(*sums, text, lines);
        (void)lostFilesText(verdict);
    }
    return 0;
}
