// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/volume_reader.h"

#include "archive/format.h"
#include "core/run_control.h"
#include "platform/file_handle.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

bool startsWithGzipMagic(const std::string& path) {
    FileHandle f;
    unsigned char magic[2] = {};
    return f.open(path, FileHandle::Mode::Read) && f.readAt(magic, 2, 0) == 2 && magic[0] == 0x1f &&
           magic[1] == 0x8b;
}

}  // namespace

std::optional<std::string> FolderVolumes::volumePath(const std::string& baseName) {
    std::string path = fs::join(m_folder, baseName + std::string(kVolumeExtension));
    if (!fs::isRegularFile(path)) {
        return std::nullopt;
    }
    return path;
}

const char* extractStatusText(ExtractStatus status) {
    switch (status) {
        case ExtractStatus::Ok:
            return "OK";
        case ExtractStatus::VolumeMissing:
            return "volume missing";
        case ExtractStatus::Damaged:
            return "damaged";
        case ExtractStatus::ChecksumMismatch:
            return "damaged (checksum mismatch)";
        case ExtractStatus::Unmatched:
            return "damaged catalogue line";
        case ExtractStatus::WriteFailed:
            return "write failed";
        case ExtractStatus::Aborted:
            return "aborted";
    }
    return "unknown";
}

VolumeReader::VolumeReader(RunControl* ctx, VolumeSource& source, std::optional<bool> compressed)
    : m_ctx(ctx), m_source(source), m_compressed(compressed), m_file(ctx) {}

bool VolumeReader::open(const std::string& baseName, std::string* detail) {
    auto path = m_source.volumePath(baseName);
    if (!path) {
        *detail = "volume " + baseName + std::string(kVolumeExtension) + " is not available";
        m_file.closeQuietly();
        m_openBase.clear();
        return false;
    }
    if (m_file.isOpen() && m_openBase == baseName && m_openPath == *path) {
        return true;
    }
    m_file.closeQuietly();
    m_openBase.clear();
    m_file.bCompressed = m_compressed ? *m_compressed : startsWithGzipMagic(*path);
    if (m_file.fOpen(*path, clsFile::Mode::Read) != clsFile::OpenResult::Ok) {
        *detail = m_file.status().text();
        return false;
    }
    m_openBase = baseName;
    m_openPath = *path;
    return true;
}

ExtractResult VolumeReader::extract(const clsRestoreFileData& rec, const Sink& sink,
                                    const Progress& progress, const Digest* expected) {
    ExtractResult result;
    std::string volume = rec.arcStart;
    int number = volumeNumber(volume);
    auto failWith = [&](ExtractStatus status, std::string detail) {
        result.status = status;
        result.volume = volume;
        result.detail = std::move(detail);
        return result;
    };
    // The block size comes from a catalogue line: one no writer uses would have every read
    // allocate that much.
    if (rec.size > 0 && (rec.recsize <= 0 || rec.recsize % 4 != 0 || rec.recsize > kMaxRecSize)) {
        return failWith(ExtractStatus::Damaged, "record size " + std::to_string(rec.recsize));
    }
    std::string detail;
    if (!open(volume, &detail)) {
        return failWith(ExtractStatus::VolumeMissing, detail);
    }

    FoldChecksum checksum;
    m_digest.begin();
    std::int64_t position = rec.soffs;
    std::int64_t done = 0;
    std::string block;
    while (done < rec.size) {
        if (m_ctx != nullptr) {
            if (m_ctx->flags.bPauseBackup) {
                WaitWhilePaused(*m_ctx);
            }
            if (m_ctx->flags.stopping()) {
                return failWith(ExtractStatus::Aborted, "stopped by the user");
            }
        }
        std::int64_t got = m_file.fRead(block, rec.recsize, position);
        if (got == 0 && volume != rec.arcEnd) {
            // The data goes on at the start of the next volume.
            volume = nextVolumeName(volume);
            ++number;
            if (!open(volume, &detail)) {
                return failWith(ExtractStatus::VolumeMissing, detail);
            }
            position = 0;
            got = m_file.fRead(block, rec.recsize, position);
        }
        if (got < rec.recsize) {
            return failWith(ExtractStatus::Damaged,
                            "volume " + volume + std::string(kVolumeExtension) + " ends after " +
                                std::to_string(done) + " of " + std::to_string(rec.size) +
                                " bytes");
        }
        checksum.fold(block);
        const std::int64_t keep = std::min(rec.recsize, rec.size - done);
        if (expected != nullptr) {
            m_digest.update(std::string_view(block).substr(0, static_cast<size_t>(keep)));
        }
        if (!sink(std::string_view(block).substr(0, static_cast<size_t>(keep)))) {
            return failWith(ExtractStatus::WriteFailed, "the bytes could not be written");
        }
        done += keep;
        position += rec.recsize;
        if (progress) {
            progress(number, done);
        }
        if (m_ctx != nullptr) {
            m_ctx->host.yield();
        }
    }
    const std::string actual = ChecksumToHex(checksum.bytes());
    if (!rec.crc.empty() && text::upper(rec.crc) != actual) {
        return failWith(ExtractStatus::ChecksumMismatch,
                        "checksum " + actual + " instead of " + rec.crc);
    }
    if (expected != nullptr && m_digest.final() != *expected) {
        return failWith(ExtractStatus::ChecksumMismatch,
                        "the BLAKE2b digest is not the one recorded when the file was archived");
    }
    result.volume = volume;
    return result;
}

}  // namespace kestrel
