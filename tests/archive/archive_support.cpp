#include "archive_support.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include "platform/fs.h"

namespace kestrel::test {

std::vector<clsArchive::AddResult> archiveFiles(AppContext& ctx, const std::string& name,
                                                const std::vector<std::string>& paths, bool zipped,
                                                std::int64_t splitSize) {
    clsArchive archive(ctx.control, ctx.paths.tempDir());
    ArchiveOptions session = sessionOf(name, true, zipped);
    session.splitSize = splitSize;
    archive.NewArchive(session);
    std::vector<clsArchive::AddResult> codes;
    for (const std::string& p : paths) {
        auto file = clsDskFile::fromPath(p);
        EXPECT_TRUE(file) << p;
        codes.push_back(file ? archive.AddFileToArchive(*file, false)
                             : clsArchive::AddResult::OpenFailed);
    }
    EXPECT_TRUE(archive.CloseArchive());
    return codes;
}

ArchiveOptions sessionOf(const std::string& name, bool clear, bool zip) {
    ArchiveOptions session;
    session.name = name;
    session.sessionDate = *DateTime::fromParts(2026, 1, 5, 14, 30, 12);
    session.clear = clear;
    session.zip = zip;
    return session;
}

std::string gunzip(const std::string& path) {
    gzFile f = gzopen(path.c_str(), "rb");
    std::string out;
    if (f == nullptr) {
        return out;
    }
    // Small blocks: of a damaged stream, as much as zlib decodes before it notices.
    char buf[512];
    int n = 0;
    while ((n = gzread(f, buf, sizeof buf)) > 0) {
        out.append(buf, static_cast<size_t>(n));
    }
    gzclose(f);
    return out;
}

Catalogue catalogueOf(AppContext& ctx, const std::string& name) {
    auto c = ReadCatalogue(fs::join(ctx.paths.tempDir(), name + ".fs"));
    EXPECT_TRUE(c);
    return c ? *c : Catalogue{};
}

std::pair<ExtractResult, std::string> extracted(VolumeReader& reader,
                                                const clsRestoreFileData& rec) {
    std::string bytes;
    const ExtractResult r = reader.extract(rec, [&](std::string_view d) {
        bytes.append(d);
        return true;
    });
    return {r, bytes};
}

}  // namespace kestrel::test
