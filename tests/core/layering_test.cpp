#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace {

// Only the platform layer may include operating-system headers; everything else stays portable.
TEST(Layering, OnlyThePlatformLayerIncludesOsHeaders) {
    const std::filesystem::path src = std::filesystem::path(KESTREL_SOURCE_DIR) / "src";
    const std::regex osHeader(
        R"(#\s*include\s*<(unistd|fcntl|dirent|signal|termios|poll|netdb|pthread|dlfcn|pwd|grp|)"
        R"(spawn|time|windows|winsock2|syslog)\.h>|#\s*include\s*<(sys|arpa|netinet|linux)/)");
    int checked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
        const auto rel = std::filesystem::relative(entry.path(), src).string();
        if (!entry.is_regular_file() || rel.rfind("platform/", 0) == 0) {
            continue;
        }
        std::ifstream in(entry.path());
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            EXPECT_FALSE(std::regex_search(line, osHeader)) << rel << ":" << number << ": " << line;
        }
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

}  // namespace
