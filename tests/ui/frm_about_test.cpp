#include "ui/frm_about.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "core/language_file.h"
#include "support/temp_dir.h"
#include "ui/frm_splash.h"
#include "ui/system_facts.h"
#include "ui/version.h"

namespace kestrel::ui {
namespace {

const QString kRevision = QString::number(kVersionRevision);

SystemFacts someFacts() {
    SystemFacts facts;
    facts.kestrelVersion = "1.0 rev. 1";
    facts.distribution = "Debian GNU/Linux 12 (bookworm)";
    facts.kernel = "linux 6.1.0";
    return facts;
}

QString label(QWidget& window, const char* name) {
    return window.findChild<QLabel*>(name)->text();
}

// Captioning anew appends the title and the revision once; OK closes.
TEST(frmAbout, AppendsTheRevisionOnceToTheTranslatedTextsAndOkCloses) {
    frmAbout about(LanguageFile(), someFacts);
    EXPECT_EQ(label(about, "Label1"), "Revision " + kRevision);
    const LanguageFile german = LanguageFile::parse(
        "[frmAbout]\nCaption=\xC3\x9C"
        "ber\nLabel1=Ausgabe\n[frmSplash]\nLabel2=Ausgabe\n");
    about.retranslate(german);
    about.retranslate(german);
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8("Über Kestrel"));
    EXPECT_EQ(label(about, "Label1"), "Ausgabe " + kRevision);
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);

    frmSplash splash{LanguageFile()};
    splash.retranslate(german);
    splash.retranslate(german);
    EXPECT_EQ(label(splash, "Label2"), "Ausgabe " + kRevision);
}

TEST(frmSplash, ItsTimeoutClosesItAndAnnouncesTheMainWindow) {
    frmSplash splash{LanguageFile()};
    QSignalSpy finished(&splash, &frmSplash::finished);
    splash.start();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_EQ(finished.count(), 0);
    ASSERT_TRUE(QMetaObject::invokeMethod(&splash.timer(), "timeout"));
    EXPECT_FALSE(splash.isVisible());
    EXPECT_EQ(finished.count(), 1);
}

TEST(frmAbout, SystemInfoShowsTheFactsSelectableAndIsUnavailableOnlyWhenNothingIsKnown) {
    frmAbout about(LanguageFile(), someFacts);
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
    auto* box = about.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible()) << "shown without blocking the about window's caller";
    EXPECT_EQ(box->text().toStdString(), systemFactsText(someFacts()));
    EXPECT_TRUE(box->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    box->close();

    const QString unavailable = "System Information Is Unavailable At This Time";
    EXPECT_EQ(frmAbout(LanguageFile(), [] { return SystemFacts{}; }).systemInfoText(), unavailable);
    EXPECT_EQ(frmAbout(LanguageFile(), nullptr).systemInfoText(), unavailable);
    SystemFacts kernelOnly;
    kernelOnly.kernel = "linux 6.1.0";
    const QString some =
        frmAbout(LanguageFile(), [kernelOnly] { return kernelOnly; }).systemInfoText();
    EXPECT_NE(some.indexOf("Distribution: unknown"), -1) << some.toStdString();
}

TEST(SystemFacts, GathersFromTheFirstReadableOsRelease) {
    test::TempDir dir;
    const std::string osRelease = dir.write("os-release",
                                            "# comment\r\nNAME=\"Debian GNU/Linux\"\r\n"
                                            "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\r\n");
    const std::string other = dir.write("other", "PRETTY_NAME=Other\n");
    EXPECT_EQ(gatherSystemFacts("/p", "/p/log", {dir.file("none")}).distribution, "");
    const SystemFacts facts = gatherSystemFacts("/home/u/kestrel", "/home/u/kestrel/k.log",
                                                {dir.file("missing"), osRelease, other});
    EXPECT_EQ(systemFactsText(facts),
              "Kestrel version: " + facts.kestrelVersion + "\nQt version: " + facts.qtVersion +
                  "\nDistribution: Debian GNU/Linux 12 (bookworm)\nKernel: " + facts.kernel +
                  "\nArchitecture: " + facts.architecture +
                  "\nProgram folder: /home/u/kestrel\nLog file: /home/u/kestrel/k.log");
}

TEST(SystemFacts, DistributionNameReadsTheQuotingOfOsRelease) {
    const std::pair<const char*, const char*> cases[] = {
        {"PRETTY_NAME='Single quoted'\n", "Single quoted"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ now\"\n", "Say \"hi\" \\ now"},
        {"PRETTY_NAME=Plain\n", "Plain"},
        {"NAME=Fedora\nVERSION=\"39 (Workstation)\"\n", "Fedora 39 (Workstation)"},
        {"PRETTY_NAME=\"\"\nNAME=Arch\n", "Arch"},
        {"ID=debian\n# PRETTY_NAME=commented\n", ""},
        {"", ""},
    };
    for (const auto& [release, name] : cases) {
        EXPECT_EQ(distributionName(release), name) << release;
    }
}

}  // namespace
}  // namespace kestrel::ui
