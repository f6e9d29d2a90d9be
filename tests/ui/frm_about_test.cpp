#include "ui/frm_about.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>

#include "core/language_file.h"
#include "support/temp_dir.h"
#include "ui/system_facts.h"
#include "ui/version.h"

namespace kestrel::ui {
namespace {

const QString kRevision = QString::number(kVersionRevision);

SystemFacts someFacts() {
    SystemFacts facts;
    facts.kestrelVersion = "1.0 rev. 1";
    facts.qtVersion = "6.4.2";
    facts.distribution = "Debian GNU/Linux 12 (bookworm)";
    facts.kernel = "linux 6.1.0";
    facts.architecture = "x86_64";
    facts.programFolder = "/home/u/.local/share/kestrel";
    facts.logPath = "/home/u/.local/share/kestrel/logs/kestrel.log";
    return facts;
}

TEST(frmAbout, AppendsTheTitleAndTheRevisionOnceToTheTranslatedTextsAndOkCloses) {
    frmAbout about(LanguageFile(), someFacts);
    EXPECT_EQ(about.windowTitle(), "About Kestrel");
    EXPECT_EQ(about.findChild<QLabel*>("Label1")->text(), "Revision " + kRevision);
    EXPECT_EQ(about.findChild<QPushButton*>("cmdSysInfo")->text(), "&System Info...");
    test::TempDir dir;
    const LanguageFile german(dir.write("german.lng",
                                        "[frmAbout]\nCaption=\xC3\x9C"
                                        "ber\nLabel1=Ausgabe\ncmdSysInfo=&Systeminfo...\n"));
    about.retranslate(german);
    about.retranslate(german);
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8("Über Kestrel"));
    EXPECT_EQ(about.findChild<QLabel*>("Label1")->text(), "Ausgabe " + kRevision);
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(frmAbout, SystemInfoShowsTheFactsSelectable) {
    frmAbout about(LanguageFile(), someFacts);
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
    auto* box = about.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible()) << "shown without blocking the about window's caller";
    EXPECT_EQ(box->text().toStdString(), systemFactsText(someFacts()));
    EXPECT_EQ(box->windowTitle(), "System Info");
    EXPECT_TRUE(box->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    box->close();
}

TEST(frmAbout, SystemInfoIsUnavailableOnlyWhenNothingIsKnown) {
    frmAbout nothing(LanguageFile(), [] { return SystemFacts{}; });
    EXPECT_EQ(nothing.systemInfoText(), "System Information Is Unavailable At This Time");
    frmAbout noSource(LanguageFile(), nullptr);
    EXPECT_EQ(noSource.systemInfoText(), "System Information Is Unavailable At This Time");
    SystemFacts kernelOnly;
    kernelOnly.kernel = "linux 6.1.0";
    frmAbout some(LanguageFile(), [kernelOnly] { return kernelOnly; });
    EXPECT_EQ(some.systemInfoText().toStdString(), systemFactsText(kernelOnly));
    EXPECT_NE(some.systemInfoText().indexOf("Distribution: unknown"), -1);
}

TEST(SystemFacts, GathersFromTheFirstReadableOsRelease) {
    test::TempDir dir;
    const std::string osRelease =
        dir.write("os-release",
                  "# comment\r\nNAME=\"Debian GNU/Linux\"\r\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                  "(bookworm)\"\r\n"
                  "VERSION_ID=\"12\"\r\n");
    const std::string other = dir.write("other", "PRETTY_NAME=Other\n");
    EXPECT_EQ(gatherSystemFacts("/p", "/p/log", {dir.file("none")}).distribution, "");
    const SystemFacts facts =
        gatherSystemFacts("/home/u/kestrel", "/home/u/kestrel/logs/kestrel.log",
                          {dir.file("missing"), osRelease, other});
    EXPECT_EQ(facts.distribution, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(facts.qtVersion, qVersion());
    EXPECT_EQ(facts.kernel,
              (QSysInfo::kernelType() + " " + QSysInfo::kernelVersion()).toStdString());
    EXPECT_EQ(facts.kestrelVersion, std::to_string(kVersionMajor) + "." +
                                        std::to_string(kVersionMinor) + " rev. " +
                                        std::to_string(kVersionRevision));

    const std::string text = systemFactsText(facts);
    EXPECT_EQ(text,
              "Kestrel version: " + facts.kestrelVersion + "\nQt version: " + facts.qtVersion +
                  "\nDistribution: Debian GNU/Linux 12 (bookworm)\n" + "Kernel: " + facts.kernel +
                  "\nArchitecture: " + facts.architecture + "\nProgram folder: /home/u/kestrel\n" +
                  "Log file: /home/u/kestrel/logs/kestrel.log");
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
