// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/open_on_desktop.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <filesystem>
#include <optional>

#include "support/process_state.h"
#include "support/temp_dir.h"

namespace kestrel::ui {
namespace {

// What the desktop's opener answers decides whether the user is told that nothing shows the file.
TEST(OpenOnDesktop, TellsWhetherTheDesktopCouldShowIt) {
    struct Case {
        const char* name;
        const char* opener;  // the xdg-open on PATH, nullptr for none
        bool opened;
    };
    const Case cases[] = {
        {"a program took it", "#!/bin/sh\n[ \"$1\" = file:///tmp/x.html ] && exit 0\nexit 9\n",
         true},
        {"no program for the type", "#!/bin/sh\nexit 3\n", false},
        {"no xdg-open at all", nullptr, false},
    };
    test::ScopedEnv path("PATH", std::nullopt);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir bin;
        if (c.opener != nullptr) {
            std::filesystem::permissions(bin.write("xdg-open", c.opener),
                                         std::filesystem::perms::owner_all);
        }
        path.set(bin.path());
        std::optional<bool> answer;
        QEventLoop loop;
        openOnDesktop(QUrl("file:///tmp/x.html"), [&](bool opened) {
            answer = opened;
            loop.quit();
        });
        EXPECT_FALSE(answer.has_value()) << "told from the event loop, not from inside";
        loop.exec();
        EXPECT_EQ(answer, c.opened);
    }
}

}  // namespace
}  // namespace kestrel::ui
