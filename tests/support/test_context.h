#pragma once

#include <memory>
#include <string>

#include "core/app_context.h"
#include "support/fake_clock.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace kestrel::test {

// A program folder in a temporary folder, a fake clock and a recording host, with an
// initialised application context over them. Assets are found in the source tree.
class TestContext {
  public:
    TestContext();

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

// The folder of the shipped language files in the source tree.
std::string sourceLanguagesDir();

}  // namespace kestrel::test
