#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(ProgramFolder, HomeComesFromTheOptionThenTheEnvironment) {
    ScopedEnv home("KESTREL_HOME", "/env/kestrel");
    ScopedEnv xdg("XDG_DATA_HOME", "/xdg");
    EXPECT_EQ(ProgramFolder::resolve(std::string("/opt/k")).home(), "/opt/k");
    EXPECT_EQ(ProgramFolder::resolve(std::nullopt).home(), "/env/kestrel");
    {
        ScopedEnv none("KESTREL_HOME", nullptr);
        EXPECT_EQ(ProgramFolder::resolve(std::nullopt).home(), "/xdg/kestrel");
        ScopedEnv noXdg("XDG_DATA_HOME", nullptr);
        ScopedEnv user("HOME", "/home/u");
        EXPECT_EQ(ProgramFolder::resolve(std::nullopt).home(), "/home/u/.local/share/kestrel");
    }
}

TEST(ProgramFolder, PathsAndAssetLookupOrder) {
    test::TempDir home;
    test::TempDir shipped;
    const ProgramFolder folder(home.path(), {shipped.path()});
    EXPECT_EQ(folder.path("backups.ini"), home.path() + "/backups.ini");
    EXPECT_EQ(folder.tempDir(), home.path() + "/temp/");

    EXPECT_FALSE(folder.findAsset("bin/bfish"));
    shipped.write("bin/bfish", "shipped");
    EXPECT_EQ(folder.findAsset("bin/bfish"), shipped.path() + "/bin/bfish");
    home.write("bin/bfish", "local");
    EXPECT_EQ(folder.findAsset("bin/bfish"), home.path() + "/bin/bfish");
}

}  // namespace
}  // namespace kestrel
