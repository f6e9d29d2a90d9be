// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands/catalogue_support.h"

namespace kestrel {

std::optional<Catalogue> readCatalogueOrSay(const std::string& path, std::ostream& err) {
    std::string error;
    auto catalogue = ReadCatalogue(path, &error);
    if (!catalogue) {
        err << "kestrel-cli: " << error << '\n';
        return std::nullopt;
    }
    for (size_t line : catalogue->skippedLines) {
        err << "kestrel-cli: " << path << ": line " << line << " is damaged and was skipped\n";
    }
    return catalogue;
}

}  // namespace kestrel
