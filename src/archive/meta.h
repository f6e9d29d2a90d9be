// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sums.h"
#include "platform/date_time.h"

// The facts file beside a catalogue ("JOB.fs.meta"): what a POSIX system knows of the backed-up
// tree beyond the catalogue's attribute bits, so that a restore gives back modes, owners,
// symbolic links and empty folders. The catalogue stays as other readers expect it.
//
//   KestrelMeta=1                                    first line
//   session=yyyyMMddHHmmss                           begins a session's facts
//   file=<64 hex>|mode=<octal>|uid=<n>|gid=<n>       an archived file, by the digest of its
//                                                    catalogue line (as in JOB.fs.sums)
//   dir=<path>|mode=<octal>|uid=<n>|gid=<n>          a folder of the session's tree: every folder
//                                                    walked (empty ones too) and those above it
//   link=<path>|to=<target>|uid=<n>|gid=<n>          a symbolic link, stored as a link
//
// Paths and targets escape "%", "|" and control characters as %XX. Lines end in CR LF. The file
// is appended session by session as the catalogue is and travels with it.
namespace kestrel {

inline constexpr std::string_view kMetaSuffix = ".meta";

// Mode (permission, set-id and sticky bits), owner and group of one entry.
struct PosixFacts {
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    bool operator==(const PosixFacts&) const = default;
};

struct FolderFact {
    std::string path;
    PosixFacts facts;
};

struct LinkFact {
    std::string path;
    std::string target;
    PosixFacts facts;
};

// The folders and links of one session's tree.
struct SessionFacts {
    DateTime session;
    std::vector<FolderFact> folders;
    std::vector<LinkFact> links;
};

struct Meta {
    std::vector<SessionFacts> sessions;
    std::vector<size_t> skippedLines;  // damaged lines, numbered from 1

    // The facts of an archived file by the digest of its catalogue line; the last recorded
    // counts. Looked up after seal().
    void addFile(const Digest& catalogueLine, const PosixFacts& facts);
    void seal();
    const PosixFacts* find(const Digest& catalogueLine) const;
    size_t fileCount() const { return m_files.size(); }

private:
    struct File {
        Digest line;
        PosixFacts facts;
    };
    std::vector<File> m_files;  // sorted by line once sealed
};

// The lines of a facts file, each without its CR LF.
std::string metaHeader();
std::string metaSessionLine(const DateTime& session);
std::string metaFileLine(const Digest& catalogueLine, const PosixFacts& facts);
std::string metaFolderLine(const FolderFact& folder);
std::string metaLinkLine(const LinkFact& link);

// Nothing when the text is no facts file (its first line is not the header).
std::optional<Meta> parseMeta(std::string_view content);

struct MetaFile {
    enum class Status { Missing, Read, Damaged };
    Status status = Status::Missing;
    std::optional<Meta> meta;
    std::string error;
};
// Reads the file piece by piece, never whole. withFiles false: the facts of archived files are
// checked but not kept (a run that needs only the folders and links); only, when given: the
// facts of these lines alone are kept (any order).
MetaFile ReadMeta(const std::string& path, bool withFiles = true,
                  std::optional<std::vector<Digest>> only = std::nullopt);

}  // namespace kestrel
