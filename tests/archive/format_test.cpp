#include "archive/format.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(ArchiveFormat, RecordSizeBoundaries) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {{0, 512},
                                                           {102'399, 512},
                                                           {102'400, 1'024},
                                                           {255'999, 1'024},
                                                           {256'000, 2'048},
                                                           {511'999, 2'048},
                                                           {512'000, 4'096},
                                                           {1'048'575, 4'096},
                                                           {1'048'576, 16'384},
                                                           {10'485'759, 16'384},
                                                           {10'485'760, 28'672},
                                                           {5'000'000'000, 28'672}};
    for (const auto& [size, rec] : cases) {
        EXPECT_EQ(ChooseRecSize(size), rec) << size;
    }
}

TEST(ArchiveFormat, ChecksumIsTheXorOfFourByteGroups) {
    FoldChecksum sum;
    EXPECT_EQ(ChecksumToHex(sum.bytes()), "00000000");
    sum.fold(std::string("\x01\x02\x03\x04\x10\x20\x30\x40", 8));
    EXPECT_EQ(ChecksumToHex(sum.bytes()), "11223344");
    // The state carries over blocks, and groups at any 4-byte position count alike.
    sum.fold(std::string("\x00\x00\x00\x00\x00\x00\x00\x00\xf0\x00\x00\x0f", 12));
    EXPECT_EQ(ChecksumToHex(sum.bytes()), "E122334B");
    EXPECT_EQ(ChecksumToHex(std::string("\xab\x0c\x00\xff", 4)), "AB0C00FF");
}

clsArchiveFileData reportDoc() {
    clsArchiveFileData f;
    f.sFileName = "C:\\Data\\report.doc";
    f.dSize = 3000;
    f.crc32 = std::string("\x1f\x00\xa2\xc4", 4);
    f.dStartOffset = 0;
    f.dEndOffset = 3584;
    f.AddDate = *DateTime::fromParts(2026, 1, 5, 14, 30, 12);
    f.dAttributes = 32;
    f.RecSize = 512;
    f.sArchiveStart = "Daily";
    f.sArchiveEnd = "Daily";
    f.tCreationTimeSet(29563521, -1163529728);
    f.tLastAccessTimeSet(29563600, 104857600);
    f.tLastWriteTimeSet(29563590, -20971520);
    return f;
}

TEST(ArchiveFormat, DescriptorTextOfTheWorkedExampleAndOfLongPaths) {
    const std::string text = descriptorText(reportDoc());
    EXPECT_EQ(text,
              "C:\\Data\\report.doc000000003000"
              "1F00A2C4"
              "00000000000000"
              "00000000003584"
              "20260105143012"
              "0000000000032");
    EXPECT_EQ(text.size(), 93u);

    // Long paths are cut.
    clsArchiveFileData f = reportDoc();
    f.sFileName = std::string(300, 'p');
    const std::string cut = descriptorText(f);
    EXPECT_EQ(cut.substr(0, 256), std::string(255, 'p') + "0");
    EXPECT_EQ(cut.size(), 255u + 75u - 8u);  // the later cuts bite too
    f.sFileName = std::string(247, 'p');
    EXPECT_EQ(descriptorText(f).size(), 247u + 75u);
}

TEST(ArchiveFormat, CatalogueLineOfTheWorkedExample) {
    EXPECT_EQ(catalogueLine(*DateTime::fromParts(2026, 1, 5, 14, 30, 12), reportDoc()),
              "dSession=20260105143012|RecSize=512|arcStart=Daily|sOffs=0|arcEnd=Daily|"
              "dEndOffset=3584|fname=C:\\Data\\report.doc|size=3000|crc=1F00A2C4|Attrib=32|"
              "dCT=29563521/-1163529728|dLAt=29563600/104857600|dLWt=29563590/-20971520");
}

TEST(ArchiveFormat, VolumeNames) {
    EXPECT_EQ(volumeNumber("Daily"), 0);
    EXPECT_EQ(volumeNumber("Daily-001"), 1);
    EXPECT_EQ(volumeNumber("Docs202603051405-012"), 12);
    EXPECT_EQ(nextVolumeName("Daily"), "Daily-001");
    EXPECT_EQ(nextVolumeName("Daily-009"), "Daily-010");
    EXPECT_EQ(nextVolumeName("Daily-999"), "Daily-1000");
}

}  // namespace
}  // namespace kestrel
