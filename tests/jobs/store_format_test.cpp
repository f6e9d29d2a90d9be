#include "jobs/store_format.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// An FTP job whose every setting is away from its default, so that each line of its section
// tells the reader something.
std::unique_ptr<clsBackup> everySetting() {
    auto job = std::make_unique<clsBackup>();
    job->sName = "Job";
    job->destFTP = true;
    job->objDestination = std::make_shared<clsKestrel>(
        clsKestrel{"ftp.example.org", 2121, "backup", "ftp pass", false});
    job->sDestinationDir = "/remote";
    job->bIncremental = true;
    job->bZipped = true;
    job->IncludeMask = "*.doc";
    job->ExcludeMask = "*.tmp";
    job->enumStatus = kStatusOk;
    job->Protected = true;
    job->password = "secret";
    job->lastOK = *DateTime::fromParts(2026, 3, 4, 5, 6);
    job->archived = true;
    job->splitSize = 1'509'949;
    job->Schedule = std::make_shared<clsSchedule>();
    job->Schedule->Tip = kScheduleDaily;
    job->Schedule->enabled = true;
    job->Schedule->start = *DateTime::fromParts(2026, 1, 5, 7, 30);
    job->Schedule->Data = kMonday | kFriday;
    job->Schedule->StartHour = DateTime().addSeconds(8 * 3600);
    job->AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/home/u", kSourceFolder, 0, 0}));
    job->AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/etc/a,b", kSourceFile, 77, 0}));
    return job;
}

std::string rewritten(const IniFile& ini, std::vector<StoreProblem>* problems = nullptr) {
    Jobs jobs;
    std::vector<StoreProblem> found;
    readJobStore(ini, jobs, found);
    if (problems != nullptr) {
        *problems = found;
    }
    return writeJobStore(jobs).serialize();
}

// The reader takes every line the writer writes: read back, the store is written the same, and
// without any one of its lines it is not.
TEST(StoreFormatTest, EveryWrittenLineIsReadBack) {
    Jobs jobs;
    jobs.append(everySetting());
    const IniFile written = writeJobStore(jobs);
    const std::string text = written.serialize();
    std::vector<StoreProblem> problems;
    EXPECT_EQ(rewritten(IniFile::parse(text), &problems), text);
    EXPECT_TRUE(problems.empty());

    const std::vector<std::string> lines = *written.sectionLines("Job");
    ASSERT_EQ(lines.size(), 19u);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string> without = lines;
        without.erase(without.begin() + static_cast<std::ptrdiff_t>(i));
        IniFile cut;
        cut.writeSection(kJobListSection, {"Job"});
        cut.writeSection("Job", without);
        EXPECT_NE(rewritten(cut), text) << "not read: " << lines[i];
    }
}

}  // namespace
}  // namespace kestrel
