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

TEST(frmSplash, IsAFramelessWindowThatWaitsForStart) {
    frmSplash splash{LanguageFile()};
    EXPECT_EQ(splash.objectName(), "frmSplash");
    EXPECT_TRUE(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_FALSE(splash.isVisible());
    EXPECT_FALSE(splash.timer().isActive());
    EXPECT_EQ(splash.timer().interval(), 1000);
    EXPECT_TRUE(splash.timer().isSingleShot());
    EXPECT_EQ(label(splash, "Label1"), "Kestrel");
    EXPECT_EQ(label(splash, "Label2"), "Revision " + QString::number(kVersionRevision));
}

TEST(frmSplash, TheRevisionFollowsTheTranslatedText) {
    test::TempDir dir;
    const LanguageFile german(dir.write("german.lng", "[frmSplash]\nLabel2=Ausgabe\n"));
    frmSplash splash(german);
    EXPECT_EQ(label(splash, "Label2"), "Ausgabe " + QString::number(kVersionRevision));
    splash.retranslate(german);
    EXPECT_EQ(label(splash, "Label2"), "Ausgabe " + QString::number(kVersionRevision))
        << "captioning anew appends the revision once";
}

TEST(frmSplash, TheTimeoutClosesItAndAnnouncesTheMainWindow) {
    frmSplash splash{LanguageFile()};
    QSignalSpy finished(&splash, &frmSplash::finished);
    splash.start();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_TRUE(splash.timer().isActive());
    EXPECT_EQ(finished.count(), 0);

    ASSERT_TRUE(QMetaObject::invokeMethod(&splash.timer(), "timeout"));
    EXPECT_FALSE(splash.isVisible());
    EXPECT_EQ(finished.count(), 1);
}

}  // namespace
}  // namespace kestrel::ui
