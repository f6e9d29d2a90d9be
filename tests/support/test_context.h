// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "core/app_context.h"
#include "support/fake_clock.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace kestrel::test {

// A program folder in a temporary folder, a fake clock and a recording host, with an
// initialised application context over them.
class TestContext {
public:
    // withTools: the shipped tools (bin/bfish) of the build tree are found as assets.
    explicit TestContext(bool withTools = false);

    std::string home() const { return dir.path(); }
    // The log file's content.
    std::string logFile() const;
    // Whether a log line (without its stamp) equals text.
    bool logged(const std::string& text) const;
    // Whether some log line contains text.
    bool loggedContaining(const std::string& text) const;

    TempDir dir;
    FakeClock clock;
    FakeHost host;
    std::unique_ptr<AppContext> ctx;
};

// A tmpfs of the given size mounted on a folder for the life of the object, to run out of
// space on purpose. mounted() is false where mounting is not allowed (tests then skip).
class SmallDisk {
public:
    SmallDisk(const std::string& folder, int kilobytes);
    ~SmallDisk();
    bool mounted() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

// The folder of the shipped language files in the source tree.
std::string sourceLanguagesDir();

}  // namespace kestrel::test
