// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "archive/catalogue.h"

namespace kestrel {

// Reads a catalogue named on the command line, saying on err why it cannot be read and which
// lines were damaged.
std::optional<Catalogue> readCatalogueOrSay(const std::string& path, std::ostream& err);

}  // namespace kestrel
