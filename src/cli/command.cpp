// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command.h"

#include <algorithm>

#include "core/app_context.h"
#include "platform/terminal.h"
#include "platform/text.h"

namespace kestrel {

void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        out << line << '\n';
    }
}

std::string thousands(std::int64_t n) {
    return text::groupThousands(std::to_string(n));
}

std::string passwordArg(const std::string& value) {
    if (value != "-") {
        return value;
    }
    auto line = terminal::readSecretLine();
    if (!line) {
        throw UsageError{"no password on standard input"};
    }
    return *line;
}

int reportUnreadableStore(CliEnv& env) {
    env.err << "kestrel-cli: "
            << env.ctx.messages.format("strMsgStoreJobsUnreadable", {{"%d", env.ctx.storePath()}})
            << '\n';
    return kExitFailed;
}

}  // namespace kestrel
