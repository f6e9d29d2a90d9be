// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/file.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/run_control.h"

namespace kestrel {
namespace {
constexpr std::int64_t kReadAhead = 256 * 1024;
constexpr size_t kWriteBehind = 1024 * 1024;
constexpr unsigned kGzBuffer = 128 * 1024;
}  // namespace

clsFile::~clsFile() {
    closeQuietly();
}

void clsFile::closeQuietly() {
    if (!fClose()) {
        // The caller chose not to know: a reader, or a file whose content is abandoned.
    }
}

void clsFile::noteFailure(Status why) {
    why.keepDiskFullOf(m_status);
    m_status = std::move(why);
}

clsFile::OpenResult clsFile::fOpen(const std::string& path, Mode mode) {
    closeQuietly();
    m_path = path;
    m_status = Status();
    m_writeFailed = false;
    if (bCompressed && mode != Mode::Read) {
        // A new gzip member after what the file holds.
        m_gzOut = std::make_unique<ParallelGzip>(9);
        if (!m_gzOut->open(path)) {
            noteFailure(m_gzOut->status());
            m_gzOut.reset();
            return OpenResult::Failed;
        }
        return OpenResult::Ok;
    }
    if (bCompressed) {
        m_gz = gzopen(path.c_str(), "rb");
        if (m_gz == nullptr) {
            noteFailure(Status::fromErrno(errno, "cannot open " + path));
            return OpenResult::Failed;
        }
        gzbuffer(m_gz, kGzBuffer);
        m_gzRead = std::make_unique<GzipReadAhead>(m_gz);
        return OpenResult::Ok;
    }
    const auto fileMode = mode == Mode::Read    ? FileHandle::Mode::Read
                          : mode == Mode::Write ? FileHandle::Mode::Write
                                                : FileHandle::Mode::ReadWrite;
    std::string error;
    if (!m_plain.open(path, fileMode, regularOnly, &error)) {
        noteFailure(Status::failure(error));
        if (m_ctx != nullptr) {
            m_ctx->WriteLog("ERROR:clsFile.fOpen()->" + error + "---" + path);
        }
        return OpenResult::Failed;
    }
    filesize = m_plain.size().value_or(0);
    return OpenResult::Ok;
}

std::int64_t clsFile::fRead(std::string& data, std::int64_t count, std::int64_t position) {
    data.clear();
    if (count <= 0 || position < 0) {
        return 0;
    }
    if (m_gzRead != nullptr) {
        return m_gzRead->read(data, count, position);
    }
    if (!m_plain.isOpen()) {
        return 0;
    }
    if (!m_writeBuf.empty() && !flushWrites()) {
        return 0;
    }
    const std::int64_t cachedEnd = m_readPos + static_cast<std::int64_t>(m_readBuf.size());
    // Subtracted, not added: a damaged catalogue's offset may lie near the largest number.
    if (position < m_readPos || count > cachedEnd - position) {
        m_readBuf.resize(static_cast<size_t>(std::max(count, kReadAhead)));
        const std::int64_t n =
            m_plain.readAt(m_readBuf.data(), static_cast<std::int64_t>(m_readBuf.size()), position);
        m_readBuf.resize(n > 0 ? static_cast<size_t>(n) : 0);
        m_readPos = position;
        if (n < 0) {
            noteFailure(m_plain.status());
        }
        if (n > 0 && m_ctx != nullptr) {
            m_ctx->host.yield();
        }
    }
    const std::int64_t offset = position - m_readPos;
    const std::int64_t available = static_cast<std::int64_t>(m_readBuf.size()) - offset;
    if (available <= 0) {
        return 0;
    }
    data.assign(m_readBuf, static_cast<size_t>(offset),
                static_cast<size_t>(std::min(count, available)));
    return static_cast<std::int64_t>(data.size());
}

std::int64_t clsFile::fWrite(std::string_view data, std::int64_t count, std::int64_t position) {
    if (count <= 0 || static_cast<std::int64_t>(data.size()) > count) {
        return 0;
    }
    const size_t padding = static_cast<size_t>(count) - data.size();
    if (m_gzOut != nullptr) {
        const std::string zeros(padding, '\0');
        if (m_writeFailed || !m_gzOut->write(data) || !m_gzOut->write(zeros)) {
            noteFailure(m_gzOut->status());
            m_writeFailed = true;
            return 0;
        }
        return count;
    }
    if (m_gz != nullptr) {
        return 0;  // read only
    }
    if (!m_plain.isOpen() || m_writeFailed || position < 0) {
        return 0;
    }
    m_readBuf.clear();
    if (!m_writeBuf.empty() &&
        position != m_writePos + static_cast<std::int64_t>(m_writeBuf.size())) {
        if (!flushWrites()) {
            return 0;
        }
    }
    if (m_writeBuf.empty()) {
        m_writePos = position;
    }
    m_writeBuf.append(data);
    m_writeBuf.append(padding, '\0');
    if (m_writeBuf.size() >= kWriteBehind && !flushWrites()) {
        return 0;
    }
    return count;
}

bool clsFile::flushWrites() {
    if (m_writeBuf.empty()) {
        return !m_writeFailed;
    }
    const auto size = static_cast<std::int64_t>(m_writeBuf.size());
    const std::int64_t written = m_plain.writeAt(m_writeBuf.data(), size, m_writePos);
    m_writeBuf.clear();
    if (written != size) {
        m_writeFailed = true;
        noteFailure(m_plain.status());
        return false;
    }
    return true;
}

bool clsFile::fFlush() {
    if (m_gzOut != nullptr || m_gz != nullptr) {
        // Compressed bytes still being deflated report a failed write at the next write or at
        // close.
        return !m_writeFailed;
    }
    return flushWrites();
}

bool clsFile::fClose() {
    if (m_plain.isOpen()) {
        flushWrites();
        m_plain.close();
    } else if (m_gz == nullptr && m_gzOut == nullptr) {
        return true;
    }
    if (m_gzOut != nullptr) {
        if (!m_gzOut->close()) {
            noteFailure(m_gzOut->status());
            m_writeFailed = true;
        }
        m_gzOut.reset();
    }
    if (m_gz != nullptr) {
        m_gzRead.reset();
        if (gzclose(m_gz) != Z_OK) {
            noteFailure(Status::fromErrno(errno, "cannot close " + m_path));
            m_writeFailed = true;
        }
        m_gz = nullptr;
    }
    m_readBuf.clear();
    m_writeBuf.clear();
    return !m_writeFailed;
}

void clsFile::TruncateFile(std::int64_t position) {
    if (!m_plain.isOpen()) {
        return;
    }
    flushWrites();
    m_readBuf.clear();
    // Position 0 leaves the file as it is: a cut there would empty a volume that holds nothing
    // else of value, and stored volumes rely on that behaviour.
    if (position > 0) {
        m_writeFailed = false;
        if (!m_plain.truncate(position)) {
            noteFailure(m_plain.status());
        }
    }
}

std::int64_t clsFile::sizeOnDisk(bool exact) {
    if (m_gzOut != nullptr) {
        if (exact && !m_writeFailed && !m_gzOut->flush()) {
            noteFailure(m_gzOut->status());
            m_writeFailed = true;
        }
        return m_gzOut->size();
    }
    if (m_gzRead != nullptr) {
        return m_gzRead->compressedOffset();
    }
    const std::int64_t onDisk = m_plain.size().value_or(0);
    return std::max(onDisk, m_writePos + static_cast<std::int64_t>(m_writeBuf.size()));
}

}  // namespace kestrel
