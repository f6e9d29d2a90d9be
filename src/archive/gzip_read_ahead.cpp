// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/gzip_read_ahead.h"

#include <zlib.h>

#include <algorithm>

namespace kestrel {

GzipReadAhead::GzipReadAhead(gzFile_s* stream) : m_stream(stream) {}

GzipReadAhead::~GzipReadAhead() {
    stop();
}

void GzipReadAhead::start(std::int64_t position) {
    stop();
    m_ready.clear();
    m_ended = false;
    m_stopping = false;
    m_current.clear();
    m_currentStart = position;
    m_worker = std::thread([this, position] { work(position); });
}

void GzipReadAhead::stop() {
    if (!m_worker.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

void GzipReadAhead::work(std::int64_t position) {
    bool ok = gzseek(m_stream, static_cast<z_off_t>(position), SEEK_SET) >= 0;
    while (ok) {
        // Read in steps: where the stream is damaged, zlib drops what the failing call decoded,
        // and the files just before the damage should still come back.
        std::string piece(kPiece, '\0');
        size_t filled = 0;
        while (filled < piece.size()) {
            const size_t step = std::min(kStep, piece.size() - filled);
            const int n = gzread(m_stream, piece.data() + filled, static_cast<unsigned>(step));
            if (n <= 0) {
                ok = false;
                break;
            }
            filled += static_cast<size_t>(n);
        }
        m_compressedOffset = static_cast<std::int64_t>(gzoffset(m_stream));
        if (filled == 0) {
            break;
        }
        piece.resize(filled);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopping || m_ready.size() < kPiecesAhead; });
        if (m_stopping) {
            return;
        }
        m_ready.push_back(std::move(piece));
        lock.unlock();
        m_changed.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

bool GzipReadAhead::next() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_ready.empty() || m_ended; });
    if (m_ready.empty()) {
        return false;
    }
    m_currentStart += static_cast<std::int64_t>(m_current.size());
    m_current = std::move(m_ready.front());
    m_ready.pop_front();
    lock.unlock();
    m_changed.notify_all();
    return true;
}

std::int64_t GzipReadAhead::read(std::string& data, std::int64_t count, std::int64_t position) {
    data.clear();
    if (count <= 0 || position < 0) {
        return 0;
    }
    if (!m_worker.joinable() || position < m_currentStart) {
        start(position);
    }
    while (static_cast<std::int64_t>(data.size()) < count) {
        // Subtracted, not added: a damaged catalogue's offset may lie near the largest number.
        const std::int64_t into = position - m_currentStart;
        const auto held = static_cast<std::int64_t>(m_current.size());
        if (into < held) {
            const std::int64_t take =
                std::min(count - static_cast<std::int64_t>(data.size()), held - into);
            data.append(m_current, static_cast<size_t>(into), static_cast<size_t>(take));
            position += take;
            continue;
        }
        if (!next()) {
            break;
        }
    }
    return static_cast<std::int64_t>(data.size());
}

}  // namespace kestrel
