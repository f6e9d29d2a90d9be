// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/archive.h"

#include <algorithm>
#include <cstdio>

#include "archive/catalogue.h"
#include "archive/meta.h"
#include "archive/sums.h"
#include "core/run_control.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kProgressIntervalMs = 100;

// The most a deflate stream can grow n bytes of input, with room for a gzip header and the
// markers of a sync flush.
std::int64_t deflateBound(std::int64_t n) {
    return n + (n >> 12) + (n >> 14) + (n >> 25) + 64;
}

// Blocks of names are filled up to this size; a longer name gets a block of its own.
constexpr std::size_t kNameBlockSize = std::size_t{1} << 20;
constexpr std::size_t kFirstSlots = 1024;

}  // namespace

std::string_view NameSet::nameAt(std::uint64_t place) const {
    const std::string& block = m_blocks[static_cast<std::size_t>((place - 1) >> 32)];
    const auto offset = static_cast<std::size_t>((place - 1) & 0xFFFFFFFFu);
    return std::string_view(block).substr(offset, block.find('\0', offset) - offset);
}

std::size_t NameSet::slotOf(std::string_view name) const {
    const std::size_t mask = m_slots.size() - 1;
    const std::size_t start = std::hash<std::string_view>{}(name);
    for (std::size_t i = start & mask;; i = (i + 1) & mask) {
        if (m_slots[i] == 0 || nameAt(m_slots[i]) == name) {
            return i;
        }
    }
}

bool NameSet::contains(std::string_view name) const {
    return !m_slots.empty() && m_slots[slotOf(name)] != 0;
}

void NameSet::grow() {
    const std::vector<std::uint64_t> before = std::move(m_slots);
    m_slots.assign(std::max(kFirstSlots, before.size() * 2), 0);
    for (const std::uint64_t place : before) {
        if (place != 0) {
            m_slots[slotOf(nameAt(place))] = place;
        }
    }
}

bool NameSet::insert(std::string_view name) {
    // At most half the slots taken keeps the probes short.
    if ((m_count + 1) * 2 > m_slots.size()) {
        grow();
    }
    const std::size_t slot = slotOf(name);
    if (m_slots[slot] != 0) {
        return false;
    }
    if (m_blocks.empty() || m_blocks.back().size() + name.size() + 1 > kNameBlockSize) {
        m_blocks.emplace_back().reserve(std::max(kNameBlockSize, name.size() + 1));
    }
    std::string& block = m_blocks.back();
    m_slots[slot] = ((static_cast<std::uint64_t>(m_blocks.size() - 1) << 32) | block.size()) + 1;
    block.append(name).push_back('\0');
    ++m_count;
    return true;
}

void NameSet::clear() {
    m_blocks.clear();
    m_slots.clear();
    m_count = 0;
}

clsArchive::clsArchive(RunControl& rc, std::string folder)
    : m_ctx(rc),
      m_folder(std::move(folder)),
      m_volume(&rc),
      m_catalogue(&rc),
      m_sums(&rc),
      m_meta(&rc) {
    // Volumes are listed as clsDskFile records, whose path ends in a separator.
    if (!m_folder.empty() && m_folder.back() != fs::kSeparator) {
        m_folder += fs::kSeparator;
    }
}

clsArchive::~clsArchive() {
    // Only an archive abandoned without CloseArchive still has files open; what they hold is
    // never used, so how their closing goes does not matter.
    m_volume.closeQuietly();
    m_catalogue.closeQuietly();
    m_sums.closeQuietly();
    m_meta.closeQuietly();
}

std::string clsArchive::volumePath(const std::string& baseName) const {
    return fs::join(sArcPath, baseName + std::string(kVolumeExtension));
}

std::string clsArchive::cataloguePath() const {
    return fs::join(sArcPath, sName + std::string(kCatalogueExtension));
}

std::string clsArchive::sumsPath() const {
    return cataloguePath() + std::string(kSumsSuffix);
}

std::string clsArchive::metaPath() const {
    return cataloguePath() + std::string(kMetaSuffix);
}

void clsArchive::NewArchive(const ArchiveOptions& options) {
    const std::string& name = options.name;
    const bool clear = options.clear;
    sName = name;
    sArcfName = options.volumeName.empty() ? name : options.volumeName;
    dSessionDate = options.sessionDate;
    dSplitSize = options.splitSize;
    writeSums = options.writeSums;
    writeMeta = options.writeMeta;
    dArcOffset = 0;
    currSize = 0;
    Volumes.clear();
    ResetFiles();
    sArcPath = m_folder;
    IsOpened = false;
    std::string error;
    if (!fs::makeDirs(sArcPath, &error)) {
        fail(Status::failure(error));
        return;
    }
    if (clear && !name.empty()) {
        auto names = fs::listDir(sArcPath, &error);
        if (!names) {
            fail(Status::failure(error));
            return;
        }
        for (const std::string& entry : *names) {
            const std::string path = fs::join(sArcPath, entry);
            // An old catalogue left in place would carry sessions whose volumes this one
            // replaces: the archive is not opened then.
            if (text::startsWith(entry, name) && fs::isRegularFile(path) &&
                !fs::removeFile(path, &error)) {
                fail(Status::failure(error));
                return;
            }
        }
    }
    // A catalogue that has no checksum file yet (written by an older version) gets one that
    // says how many of its lines it does not cover.
    m_sumsLinesBefore.reset();
    m_sumsWriter = SumsWriter();
    if (writeSums && fs::exists(sumsPath())) {
        // One written by an older version is carried on in its own form.
        const std::optional<SumsAppend> read = readSumsAppendPlan(sumsPath(), &error);
        if (!read) {
            fail(Status::failure(error));
            return;
        }
        const SumsAppend& plan = *read;
        if (plan.replacement && !fs::writeFileAtomic(sumsPath(), *plan.replacement, 0600, &error)) {
            fail(Status::failure(error));
            return;
        }
        m_sumsWriter = SumsWriter(plan.version);
    } else if (writeSums) {
        size_t lines = 0;
        if (fs::exists(cataloguePath())) {
            const std::optional<CatalogueState> state = readCatalogueState(cataloguePath(), &error);
            if (!state) {
                fail(Status::failure(error));
                return;
            }
            lines = state->lines;
        }
        m_sumsLinesBefore = lines;
    }
    IsOpened = true;
    zipped = options.zip;
    dTotalSize = options.totalBytes;
}

void clsArchive::ResetFiles() {
    m_names.clear();
}

bool clsArchive::CloseArchive(std::vector<FolderFact> folders, std::vector<LinkFact> links) {
    SessionFolders = std::move(folders);
    SessionLinks = std::move(links);
    const bool volumeOk = closeVolume();
    const bool catalogueOk = m_catalogue.fClose();
    // What the catalogue is now that the session is complete: lines another writer appends
    // later are then told from lines this file should know.
    bool coversOk = true;
    if (catalogueOk && m_sums.isOpen()) {
        std::string error;
        const std::optional<CatalogueState> catalogue = readCatalogueState(cataloguePath(), &error);
        const std::string line = catalogue ? m_sumsWriter.covers(*catalogue) : std::string();
        const auto size = static_cast<std::int64_t>(line.size());
        const std::int64_t end = m_sums.sizeOnDisk();
        coversOk = catalogue && m_sums.fWrite(line, size, end) == size;
        if (!coversOk) {
            m_sums.TruncateFile(end);
            fail(catalogue ? m_sums.status() : Status::failure(error));
        }
    }
    const bool sumsOk = m_sums.fClose() && coversOk;
    // The session's folders and links follow its files.
    bool metaOk = true;
    if (catalogueOk && m_meta.isOpen()) {
        std::string facts;
        for (const FolderFact& f : SessionFolders) {
            facts += metaFolderLine(f) + "\r\n";
        }
        for (const LinkFact& l : SessionLinks) {
            facts += metaLinkLine(l) + "\r\n";
        }
        const auto size = static_cast<std::int64_t>(facts.size());
        const std::int64_t end = m_meta.sizeOnDisk();
        metaOk = m_meta.fWrite(facts, size, end) == size;
        if (!metaOk) {
            fail(m_meta.status());
        }
    }
    // What the file still held reaches the disk when it is closed.
    if (!m_meta.fClose()) {
        fail(m_meta.status());
        metaOk = false;
    }
    m_metaSession = false;
    if (!catalogueOk || !sumsOk) {
        Status why = !catalogueOk ? m_catalogue.status() : m_sums.status();
        why.keepDiskFullOf(m_catalogue.status());
        why.keepDiskFullOf(m_sums.status());
        fail(std::move(why));
    }
    ResetFiles();
    sArcPath.clear();
    IsOpened = false;
    return volumeOk && catalogueOk && sumsOk && metaOk && !m_closeFailed;
}

void clsArchive::fail(Status why) {
    why.keepDiskFullOf(m_status);
    m_status = std::move(why);
}

bool clsArchive::openVolume() {
    if (m_volume.isOpen() && m_openVolume == sArcfName) {
        return true;
    }
    closeVolume();
    m_volume.bCompressed = zipped;
    if (m_volume.fOpen(volumePath(sArcfName), clsFile::Mode::Write) != clsFile::OpenResult::Ok) {
        fail(m_volume.status());
        return false;
    }
    m_openVolume = sArcfName;
    m_sizeAtMeasure = m_volume.sizeOnDisk(false);
    m_bytesSinceMeasure = 0;
    return true;
}

bool clsArchive::closeVolume() {
    if (m_openVolume.empty()) {
        return true;
    }
    m_openVolume.clear();
    if (!m_volume.fClose()) {
        fail(m_volume.status());
        m_closeFailed = true;
        return false;
    }
    return true;
}

clsArchive::Switch clsArchive::NextVolume() {
    std::int64_t size = 0;
    if (zipped) {
        // Flushing the stream to measure it costs compression, so only measure when the bytes
        // written since the last measurement could have reached the split size.
        if (m_sizeAtMeasure + deflateBound(m_bytesSinceMeasure) < dSplitSize) {
            return Switch::None;
        }
        size = m_volume.sizeOnDisk(true);
        m_sizeAtMeasure = size;
        m_bytesSinceMeasure = 0;
    } else {
        size = m_volume.sizeOnDisk();
    }
    if (size < dSplitSize) {
        return Switch::None;
    }
    if (!closeVolume()) {
        return Switch::Failed;
    }
    ++Index;
    char number[16];
    std::snprintf(number, sizeof number, "%03d", Index);
    if (Index == 1) {
        sArcfName += std::string("-") + number;
    } else {
        sArcfName =
            sArcfName.substr(0, sArcfName.size() >= 4 ? sArcfName.size() - 4 : 0) + "-" + number;
    }
    m_ctx.WriteLog(m_ctx.msg("strMsgSplittingFile") + sArcfName);
    return openVolume() ? Switch::Switched : Switch::Failed;
}

void clsArchive::RegisterVolume() {
    const std::string fileName = sArcfName + std::string(kVolumeExtension);
    for (const clsDskFile& v : Volumes) {
        if (v.filename == fileName) {
            return;
        }
    }
    clsDskFile volume;
    volume.filename = fileName;
    volume.path = sArcPath;
    Volumes.push_back(volume);
}

bool clsArchive::writeToVolume(std::string_view block, std::int64_t offset) {
    const auto size = static_cast<std::int64_t>(block.size());
    if (m_volume.fWrite(block, size, offset) != size) {
        fail(m_volume.status());
        return false;
    }
    m_bytesSinceMeasure += size;
    return true;
}

void clsArchive::cutBack(const std::string& startVolume, std::int64_t startOffset,
                         std::int64_t currentOffset) {
    if (zipped) {
        // A gzip stream cannot be cut: the blocks stay, and the next file begins after them.
        dArcOffset = currentOffset;
        return;
    }
    if (sArcfName == startVolume) {
        m_volume.TruncateFile(startOffset);
        dArcOffset = startOffset;
        return;
    }
    // The file ran into a later volume: that one holds nothing else, and the start volume ends
    // where the file began. A cut that fails leaves bytes past every recorded end, which no
    // reader looks at and the next file overwrites.
    if (m_volume.fFlush() && !m_volume.handle().truncate(0)) {
        fail(m_volume.handle().status());
    }
    dArcOffset = 0;
    clsFile start(&m_ctx);
    if (start.fOpen(volumePath(startVolume), clsFile::Mode::Write) == clsFile::OpenResult::Ok) {
        start.TruncateFile(startOffset);
        start.closeQuietly();
    }
}

void clsArchive::reportProgress(const std::string& item, std::int64_t fileBytes, std::int64_t size,
                                bool force) {
    dFilePercent =
        size > 0 ? 100.0 * static_cast<double>(fileBytes) / static_cast<double>(size) : 100.0;
    const std::uint64_t now = m_ctx.clock.tickMs();
    if (!force && now - m_lastProgressTick < kProgressIntervalMs) {
        return;
    }
    m_lastProgressTick = now;
    const double total =
        100.0 * static_cast<double>(currSize + fileBytes) / (static_cast<double>(dTotalSize) + 1.0);
    m_ctx.updateProgress(m_ctx.msg("strMsgArchiving") + (zipped ? "(Zipping)" : ""), item,
                         dFilePercent > 100.0 ? 100.0 : dFilePercent, total);
}

clsArchive::AddResult clsArchive::AddFileToArchive(const clsDskFile& file, bool flag) {
    const std::string fullName = file.fullName();
    if (!m_status.isDiskFull()) {
        m_status = Status();
    }
    if (!IsOpened) {
        fail(Status::failure("Archive closed for operations!"));
        return AddResult::Failed;
    }
    if (m_names.contains(fullName)) {
        return flag ? AddResult::DuplicateFlagged : AddResult::Duplicate;
    }
    if (fullName.find_first_of("\r\n") != std::string::npos) {
        return AddResult::UnstorableName;
    }

    clsArchiveFileData data;
    data.sFileName = fullName;
    data.dAttributes = file.dAttrib;
    data.creationTime = file.creationTime;
    data.lastAccessTime = file.lastAccessTime;
    data.lastWriteTime = file.lastWriteTime;
    data.dStartOffset = dArcOffset;
    std::int64_t current = dArcOffset;

    clsFile source(&m_ctx);
    source.regularOnly = true;
    if (!openVolume()) {
        // The archive's own volume: the build cannot go on.
        return AddResult::Failed;
    }
    if (source.fOpen(fullName, clsFile::Mode::Read) != clsFile::OpenResult::Ok) {
        fail(source.status());
        return AddResult::OpenFailed;
    }

    data.AddDate = m_ctx.clock.now();
    const std::int64_t expected = source.filesize;
    RecSize = ChooseRecSize(expected);
    data.RecSize = RecSize;
    FoldChecksum checksum;
    m_digest.begin();
    const std::string startVolume = sArcfName;
    data.sArchiveStart = sArcfName;
    std::int64_t sourceOffset = 0;  // bytes of the source archived so far
    std::string block;
    block.reserve(static_cast<size_t>(RecSize));

    for (;;) {
        if (m_ctx.flags.bPauseBackup) {
            WaitWhilePaused(m_ctx);
        }
        if (dSplitSize > 0) {
            const Switch s = NextVolume();
            if (s == Switch::Failed) {
                m_ctx.WriteLog(m_ctx.msg("strMsgSplitFailed"));
                return AddResult::Failed;
            }
            if (s == Switch::Switched) {
                current = 0;
                dArcOffset = 0;
            }
        }
        RegisterVolume();

        // A file that grows while it is read is archived as long as it was when opened, so
        // that the run ends; one that shrinks ends where its data ends.
        const std::int64_t want = std::min(RecSize, expected - sourceOffset);
        const std::int64_t got = want > 0 ? source.fRead(block, want, sourceOffset) : 0;
        if (got <= 0) {
            break;
        }
        sourceOffset += got;
        if (writeSums) {
            m_digest.update(std::string_view(block).substr(0, static_cast<size_t>(got)));
        }
        block.resize(static_cast<size_t>(RecSize), '\0');
        if (!writeToVolume(block, current)) {
            cutBack(startVolume, data.dStartOffset, current);
            return AddResult::Failed;
        }
        current += RecSize;
        checksum.fold(block);
        reportProgress(fullName, sourceOffset, expected, false);
        m_ctx.host.yield();
        if (m_ctx.flags.bCancelFile || m_ctx.flags.stopping()) {
            cutBack(startVolume, data.dStartOffset, current);
            m_ctx.flags.bCancelFile = false;
            return AddResult::Cancelled;
        }
    }
    source.closeQuietly();  // only read
    reportProgress(fullName, sourceOffset, expected, true);

    // The catalogue records what was archived, also when the file changed meanwhile.
    data.dSize = sourceOffset;
    data.dEndOffset = current + RecSize;
    data.crc32 = checksum.bytes();
    data.sArchiveEnd = sArcfName;

    std::string descriptor = descriptorText(data);
    descriptor.resize(static_cast<size_t>(RecSize), '\0');
    if (!writeToVolume(descriptor, current)) {
        fail(m_volume.status());
        cutBack(startVolume, data.dStartOffset, current);
        return AddResult::Failed;
    }

    if (!m_catalogue.isOpen() &&
        m_catalogue.fOpen(cataloguePath(), clsFile::Mode::Write) != clsFile::OpenResult::Ok) {
        fail(m_catalogue.status());
        cutBack(startVolume, data.dStartOffset, data.dEndOffset);
        return AddResult::Failed;
    }
    const std::int64_t catalogueEnd = m_catalogue.sizeOnDisk();
    const std::string text = catalogueLine(dSessionDate, data);
    const std::string line = text + "\r\n";
    const auto lineSize = static_cast<std::int64_t>(line.size());
    if (m_catalogue.fWrite(line, lineSize, catalogueEnd) != lineSize) {
        fail(m_catalogue.status());
        // No half line may stay behind: it would make the catalogue unreadable.
        m_catalogue.TruncateFile(catalogueEnd);
        cutBack(startVolume, data.dStartOffset, data.dEndOffset);
        return AddResult::Failed;
    }
    // The file's digest goes beside its line; a file without it would read as damaged.
    if (writeSums && !m_sums.isOpen() &&
        m_sums.fOpen(sumsPath(), clsFile::Mode::Write) != clsFile::OpenResult::Ok) {
        fail(m_sums.status());
        m_catalogue.TruncateFile(catalogueEnd);
        cutBack(startVolume, data.dStartOffset, data.dEndOffset);
        return AddResult::Failed;
    }
    std::int64_t sumsEnd = -1;
    if (writeSums) {
        sumsEnd = m_sums.sizeOnDisk();
        std::string entry;
        if (m_sumsLinesBefore && sumsEnd == 0) {
            entry = m_sumsWriter.header(*m_sumsLinesBefore);
        }
        entry += m_sumsWriter.entry(digestOf(text), m_digest.final(), data.sFileName);
        const auto entrySize = static_cast<std::int64_t>(entry.size());
        if (m_sums.fWrite(entry, entrySize, sumsEnd) != entrySize) {
            fail(m_sums.status());
            m_sums.TruncateFile(sumsEnd);
            m_sumsWriter.restart();
            m_catalogue.TruncateFile(catalogueEnd);
            cutBack(startVolume, data.dStartOffset, data.dEndOffset);
            return AddResult::Failed;
        }
    }

    // The file's mode, owner and group beside its line; the session's line comes first.
    if (writeMeta && file.hasPosix) {
        std::string facts;
        if (!m_meta.isOpen() &&
            m_meta.fOpen(metaPath(), clsFile::Mode::Write) != clsFile::OpenResult::Ok) {
            fail(m_meta.status());
        }
        const std::int64_t metaEnd = m_meta.isOpen() ? m_meta.sizeOnDisk() : 0;
        if (metaEnd == 0) {
            facts = metaHeader() + "\r\n";
        }
        if (!m_metaSession) {
            facts += metaSessionLine(dSessionDate) + "\r\n";
        }
        facts +=
            metaFileLine(digestOf(text), PosixFacts{file.posixMode, file.uid, file.gid}) + "\r\n";
        const auto factsSize = static_cast<std::int64_t>(facts.size());
        if (!m_meta.isOpen() || m_meta.fWrite(facts, factsSize, metaEnd) != factsSize) {
            if (m_meta.isOpen()) {
                fail(m_meta.status());
                m_meta.TruncateFile(metaEnd);
            }
            if (sumsEnd >= 0) {
                m_sums.TruncateFile(sumsEnd);
                m_sumsWriter.restart();
            }
            m_catalogue.TruncateFile(catalogueEnd);
            cutBack(startVolume, data.dStartOffset, data.dEndOffset);
            return AddResult::Failed;
        }
        m_metaSession = true;
    }

    dArcOffset = data.dEndOffset;
    currSize += data.dSize;
    m_names.insert(fullName);
    return AddResult::Added;
}

}  // namespace kestrel
