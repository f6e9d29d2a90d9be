// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/test_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kestrel::test {

std::string sourceLanguagesDir() {
    return std::string(KESTREL_SOURCE_DIR) + "/languages";
}

TestContext::TestContext(bool withTools) {
    std::vector<std::string> assets;
    if (withTools) {
        assets.push_back(KESTREL_BINARY_DIR);
    }
    ctx = std::make_unique<AppContext>(ProgramFolder(dir.path(), assets), clock, host);
    std::string error;
    EXPECT_TRUE(ctx->initialise(&error)) << error;
}

std::string TestContext::logFile() const {
    return readAll(ctx->log.filePath());
}

bool TestContext::logged(const std::string& text) const {
    for (const std::string& line : host.logLines) {
        const size_t end = line.find("]-");
        if (end != std::string::npos && line.substr(end + 2) == text) {
            return true;
        }
    }
    return false;
}

bool TestContext::loggedContaining(const std::string& text) const {
    for (const std::string& line : host.logLines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

SmallDisk::SmallDisk(const std::string& folder, int kilobytes) : m_folder(folder) {
    std::filesystem::create_directories(folder);
    const std::string command = "mount -t tmpfs -o size=" + std::to_string(kilobytes) +
                                "k kestrel-test '" + folder + "' 2>/dev/null";
    m_mounted = std::system(command.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (m_mounted) {
        const std::string command = "umount '" + m_folder + "'";
        if (std::system(command.c_str()) != 0) {
            ADD_FAILURE() << "cannot unmount " << m_folder;
        }
    }
}

}  // namespace kestrel::test
