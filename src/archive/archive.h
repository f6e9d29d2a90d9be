// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/dsk_file.h"
#include "archive/file.h"
#include "archive/format.h"
#include "archive/meta.h"
#include "archive/sums.h"
#include "platform/date_time.h"
#include "platform/status.h"

namespace kestrel {

class RunControl;

// A set of full names that holds each name once in large shared blocks, found through a table of
// their places, instead of a string and a hash node per name: a session of a million files
// remembers every name it added.
class NameSet {
public:
    bool contains(std::string_view name) const;
    // Adds the name unless it is there; false when it was.
    bool insert(std::string_view name);
    void clear();
    std::size_t size() const { return m_count; }

private:
    std::string_view nameAt(std::uint64_t place) const;
    // The slot holding name, or the free one where it would go.
    std::size_t slotOf(std::string_view name) const;
    void grow();

    std::vector<std::string> m_blocks;   // names, each followed by a NUL
    std::vector<std::uint64_t> m_slots;  // block << 32 | offset, plus one; 0 = free
    std::size_t m_count = 0;
};

// What one session of an archive is: given to NewArchive, fixed for the session.
struct ArchiveOptions {
    std::string name;        // the job's name: the catalogue is NAME.fs
    std::string volumeName;  // the first volume's base name ("" = name)
    DateTime sessionDate;
    bool clear = true;  // delete every file whose name begins with name first (a full set)
    bool zip = false;
    std::int64_t totalBytes = 0;  // what the session will hold, for the progress
    std::int64_t splitSize = 0;   // a volume reaching it ends and the next begins; 0 never splits
    // False writes no checksum file and computes no digests: a set readers can only check by
    // the crc (the benchmark measures the digests' cost with it).
    bool writeSums = true;
    // False writes no facts file (JOB.fs.meta): modes, owners, links and folders are not kept.
    bool writeMeta = true;
};

// Writes one backup session into the archive container in the temporary folder: volumes of
// blocks (optionally gzip-compressed, optionally split at a size) and the catalogue file.
//
// Use: NewArchive with the session's options, AddFileToArchive per file, CloseArchive. volumes()
// lists the volume files written. The current volume and the
// catalogue stay open between files and are written in large pieces; each file's BLAKE2b
// digest goes to the checksum file beside the catalogue (JOB.fs.sums). CloseArchive completes
// them and tells whether every byte was written, so a session is only used when it did.
class clsArchive {
public:
    // Results of AddFileToArchive, with the codes the archive has always used.
    enum class AddResult {
        Added = 1,
        Failed = 2,  // a write failed; the file's blocks were cut off
        Cancelled = 10,
        Duplicate = 12,
        DuplicateFlagged = 13,
        OpenFailed = 14,  // the source could not be opened
        // The catalogue is a line format: a name with a line break cannot be recorded.
        UnstorableName = 15,
    };

    // folder: where the volumes and the catalogue are written (a run's temporary folder).
    clsArchive(RunControl& rc, std::string folder);
    ~clsArchive();
    clsArchive(const clsArchive&) = delete;
    clsArchive& operator=(const clsArchive&) = delete;

    // Opens the archive for a session in the archive's folder. isOpen() stays false (and
    // status() says why) when the folder cannot be made or an old file not deleted.
    void NewArchive(const ArchiveOptions& options);
    // Adds one file; see the result codes above. flag only selects 12 or 13 for a duplicate.
    // Both cancel the file when the user does (bCancelFile) and yield while they work.
    [[nodiscard]] AddResult AddFileToArchive(const clsDskFile& file, bool flag);
    // Completes the volume and the catalogue and closes the archive; folders and links are the
    // session's, for the facts file. False when the last bytes could not be written (a full
    // disk): the session is then incomplete.
    [[nodiscard]] bool CloseArchive(std::vector<FolderFact> folders = {},
                                    std::vector<LinkFact> links = {});

    // Why the last add failed, and whether the disk was full.
    const Status& status() const { return m_status; }
    bool isOpen() const { return IsOpened; }
    const DateTime& sessionDate() const { return dSessionDate; }
    // The volume written now, and where in it the next file begins.
    const std::string& volumeName() const { return sArcfName; }
    std::int64_t offset() const { return dArcOffset; }
    const std::vector<clsDskFile>& volumes() const { return Volumes; }

private:
    void ResetFiles();

    std::int64_t RecSize = 0;
    std::string sArcPath;
    double dFilePercent = 0;
    std::int64_t dArcOffset = 0;
    std::int64_t dTotalSize = 0;
    std::int64_t dSplitSize = 0;
    std::vector<clsDskFile> Volumes;
    DateTime dSessionDate;
    std::string sArcfName;
    std::int64_t currSize = 0;
    std::int32_t Index = 0;
    bool zipped = false;
    bool IsOpened = false;
    std::string sName;
    bool writeSums = true;
    bool writeMeta = true;
    std::vector<FolderFact> SessionFolders;
    std::vector<LinkFact> SessionLinks;

    enum class Switch { None, Switched, Failed };

    std::string volumePath(const std::string& baseName) const;
    std::string cataloguePath() const;
    std::string sumsPath() const;
    std::string metaPath() const;
    bool openVolume();
    bool closeVolume();
    Switch NextVolume();
    void RegisterVolume();
    bool writeToVolume(std::string_view block, std::int64_t offset);
    // Removes what a failed or cancelled add wrote, so that later offsets stay true.
    void cutBack(const std::string& startVolume, std::int64_t startOffset,
                 std::int64_t currentOffset);
    void fail(Status why);
    void reportProgress(const std::string& item, std::int64_t fileBytes, std::int64_t size,
                        bool force);

    RunControl& m_ctx;
    std::string m_folder;
    clsFile m_volume;
    std::string m_openVolume;  // base name of the open volume, "" when none
    clsFile m_catalogue;
    clsFile m_sums;              // the checksum file beside the catalogue
    clsFile m_meta;              // the facts file beside it
    bool m_metaSession = false;  // this session's line is written
    ParallelDigest m_digest;
    // Set when a new checksum file is begun: the catalogue lines it does not cover.
    std::optional<size_t> m_sumsLinesBefore;
    SumsWriter m_sumsWriter;  // in the form of the checksum file appended to
    NameSet m_names;          // full names added this session
    // Compressed volumes: the exactly measured size and the uncompressed bytes written since,
    // which bound the size without flushing the stream.
    std::int64_t m_sizeAtMeasure = 0;
    std::int64_t m_bytesSinceMeasure = 0;
    std::uint64_t m_lastProgressTick = 0;
    Status m_status;
    bool m_closeFailed = false;
};

}  // namespace kestrel
