// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "archive/catalogue.h"
#include "archive/file.h"

namespace kestrel {

class RunControl;

// Where the reader finds a volume: the local path of the volume with the given base name, or
// nothing when it cannot be had. The restore fetches (downloads, decrypts) volumes here.
class VolumeSource {
public:
    virtual ~VolumeSource() = default;
    virtual std::optional<std::string> volumePath(const std::string& baseName) = 0;
};

// Volumes lying in one folder (beside their catalogue, or in the temporary folder).
class FolderVolumes : public VolumeSource {
public:
    explicit FolderVolumes(std::string folder) : m_folder(std::move(folder)) {}
    std::optional<std::string> volumePath(const std::string& baseName) override;

private:
    std::string m_folder;
};

enum class ExtractStatus {
    Ok,
    VolumeMissing,     // a volume could not be had or opened
    Damaged,           // a volume ends before the file's data does, or the record is unusable
    ChecksumMismatch,  // every byte was read, but they are not the bytes that were archived
    Unmatched,         // the checksum file holds no digest for this catalogue line
    WriteFailed,       // the sink refused the bytes
    Aborted,           // the user stopped the run
};

struct ExtractResult {
    ExtractStatus status = ExtractStatus::Ok;
    std::string volume;  // base name of the volume concerned
    std::string detail;  // what went wrong, for the log
};

// Reads archived files back from their volumes. Keeps the last volume open, so that reading
// the files of a volume in catalogue order reads it once from front to back.
class VolumeReader {
public:
    // compressed: whether the volumes are gzip streams; nothing = tell by each volume's first
    // bytes. rc, when given, supplies the abort and pause flags and the yields.
    VolumeReader(RunControl* rc, VolumeSource& source, std::optional<bool> compressed);

    // Called after each block with the current volume number and the bytes produced so far.
    using Progress = std::function<void(int volumeNumber, std::int64_t done)>;
    // Sink for the file's bytes, in order; returns false when it cannot take them.
    using Sink = std::function<bool(std::string_view)>;

    // Produces exactly rec.size bytes of the archived file and checks them against rec.crc
    // and, when given, against their BLAKE2b digest.
    ExtractResult extract(const clsRestoreFileData& rec, const Sink& sink,
                          const Progress& progress = nullptr, const Digest* expected = nullptr);

private:
    bool open(const std::string& baseName, std::string* detail);

    RunControl* m_ctx;
    VolumeSource& m_source;
    std::optional<bool> m_compressed;
    clsFile m_file;
    std::string m_openBase;
    std::string m_openPath;
    ParallelDigest m_digest;
};

const char* extractStatusText(ExtractStatus status);

}  // namespace kestrel
