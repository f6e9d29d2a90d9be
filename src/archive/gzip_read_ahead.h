// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

struct gzFile_s;

namespace kestrel {

// Reads a gzip stream through a worker thread that inflates the next pieces while the caller
// checks and writes the ones before: a restore would otherwise inflate, hash and write in
// turn on one core. Reads that go forward take the pieces in order (skipping what lies
// between); a read behind them starts the worker again from there, as a seek in the stream
// would.
//
// The worker alone touches the stream while it runs.
class GzipReadAhead {
public:
    static constexpr size_t kPiece = 1 << 20;
    static constexpr size_t kPiecesAhead = 4;
    static constexpr size_t kStep = 16 * 1024;  // bytes asked of zlib at a time

    explicit GzipReadAhead(gzFile_s* stream);
    ~GzipReadAhead();
    GzipReadAhead(const GzipReadAhead&) = delete;
    GzipReadAhead& operator=(const GzipReadAhead&) = delete;

    // Up to count bytes from the uncompressed position on; fewer at the end of the stream or
    // where it is damaged.
    std::int64_t read(std::string& data, std::int64_t count, std::int64_t position);
    // How far into the compressed file the worker has read.
    std::int64_t compressedOffset() const { return m_compressedOffset.load(); }

private:
    void start(std::int64_t position);
    void stop();
    void work(std::int64_t position);
    // Makes the next piece the current one; false at the end of the stream.
    bool next();

    gzFile_s* m_stream;
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_ready;
    bool m_ended = false;  // the worker reached the end of the stream or damage
    bool m_stopping = false;
    std::atomic<std::int64_t> m_compressedOffset{0};

    // The caller's side: the piece being taken from, and where it lies in the stream.
    std::string m_current;
    std::int64_t m_currentStart = 0;
};

}  // namespace kestrel
