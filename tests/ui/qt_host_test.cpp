#include "ui/qt_host.h"

#include <gtest/gtest.h>

namespace kestrel::ui {
namespace {

// A run of small files reports thousands of times a second; the window takes a new step, the
// end, and the latest values now and then, never the whole flood.
TEST(QtHost, ProgressReachesTheWindowRateLimitedButStepsAndTheEndAlways) {
    QtHost host;
    std::vector<std::string> shown;
    QtHost::Views views;
    views.updateProgress = [&](const std::string& title, const std::string& item, double,
                               double total) {
        shown.push_back(title + "|" + item + "|" + std::to_string(static_cast<int>(total)));
    };
    host.setViews(views);
    host.showProgress("Backup");
    for (int i = 0; i < 2000; ++i) {
        host.updateProgress("Copy", "f" + std::to_string(i), 0, i / 40.0);
    }
    host.updateProgress("Copy", "last", 100, 100);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "Copy|f0|0") << "a new step shows at once";
    EXPECT_EQ(shown.back(), "Copy|last|100") << "the end always shows";
    EXPECT_LT(shown.size(), 2001u);
    host.updateProgress("Upload", "x", 0, 0);
    EXPECT_EQ(shown.back(), "Upload|x|0");
}

}  // namespace
}  // namespace kestrel::ui
