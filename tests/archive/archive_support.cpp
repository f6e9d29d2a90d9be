// SPDX-License-Identifier: GPL-3.0-or-later
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

std::string gunzip(const std::string& path, bool* whole) {
    const std::string gz = readAll(path);
    std::string out;
    bool ok = true;
    for (size_t at = 0; ok && at < gz.size();) {
        z_stream s{};
        ok = inflateInit2(&s, 16 + 15) == Z_OK;
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data() + at));
        s.avail_in = static_cast<uInt>(gz.size() - at);
        // Small blocks: of a damaged stream, as much as zlib decodes before it notices.
        char buf[512];
        int rc = Z_OK;
        while (ok && rc == Z_OK) {
            s.next_out = reinterpret_cast<Bytef*>(buf);
            s.avail_out = sizeof buf;
            rc = inflate(&s, Z_NO_FLUSH);
            out.append(buf, sizeof buf - s.avail_out);
        }
        at = gz.size() - s.avail_in;
        inflateEnd(&s);
        ok = ok && rc == Z_STREAM_END;
    }
    if (whole != nullptr) {
        *whole = ok;
    }
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
