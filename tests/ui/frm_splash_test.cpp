#include "ui/frm_splash.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>

#include "core/language_file.h"
#include "support/temp_dir.h"
#include "ui/version.h"

namespace kestrel::ui {
namespace {

QString label(frmSplash& splash, const char* name) {
    return splash.findChild<QLabel*>(name)->text();
}

TEST(frmSplash, ShowsTheRevisionOnceAndItsTimeoutAnnouncesTheMainWindow) {
    frmSplash splash{LanguageFile()};
    EXPECT_TRUE(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(label(splash, "Label1"), "Kestrel");
    EXPECT_EQ(label(splash, "Label2"), "Revision " + QString::number(kVersionRevision));
    test::TempDir dir;
    const LanguageFile german(dir.write("german.lng", "[frmSplash]\nLabel2=Ausgabe\n"));
    splash.retranslate(german);
    splash.retranslate(german);
    EXPECT_EQ(label(splash, "Label2"), "Ausgabe " + QString::number(kVersionRevision))
        << "captioning anew appends the revision once";

    QSignalSpy finished(&splash, &frmSplash::finished);
    EXPECT_FALSE(splash.timer().isActive());
    splash.start();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_TRUE(splash.timer().isActive());
    EXPECT_EQ(splash.timer().interval(), 1000);
    EXPECT_EQ(finished.count(), 0);
    ASSERT_TRUE(QMetaObject::invokeMethod(&splash.timer(), "timeout"));
    EXPECT_FALSE(splash.isVisible());
    EXPECT_EQ(finished.count(), 1);
}

}  // namespace
}  // namespace kestrel::ui
