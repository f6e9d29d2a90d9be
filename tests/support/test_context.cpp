#include "support/test_context.h"

#include <gtest/gtest.h>

namespace kestrel::test {

std::string sourceLanguagesDir() {
    return std::string(KESTREL_SOURCE_DIR) + "/languages";
}

TestContext::TestContext() {
    ctx = std::make_unique<AppContext>(ProgramFolder(dir.path(), {}), clock, host);
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

}  // namespace kestrel::test
