// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_handle.h"
#include "platform/status.h"

namespace kestrel {

// Appends one gzip member to a file, deflating pieces of the input on every core. Each piece
// is primed with the 32 KiB before it as dictionary and ends on a byte boundary (sync flush),
// so the pieces join into one ordinary deflate stream; their CRCs are joined with
// crc32_combine. The output depends only on the input and the points where flush() was
// called, never on the threads' timing.
//
// The caller's thread does all file writes, in order; the workers only compress.
class ParallelGzip {
public:
    static constexpr size_t kDefaultPiece = 128 * 1024;

    // workers: threads that deflate (0 = one per core); piece: input bytes per piece.
    explicit ParallelGzip(int level = 9, unsigned workers = 0, size_t piece = kDefaultPiece);
    ~ParallelGzip();
    ParallelGzip(const ParallelGzip&) = delete;
    ParallelGzip& operator=(const ParallelGzip&) = delete;

    // Opens (creating when missing) the file and begins a member after what it holds.
    [[nodiscard]] bool open(const std::string& path);
    [[nodiscard]] bool write(std::string_view bytes);
    // Deflates and writes everything given so far, so that size() is exact.
    [[nodiscard]] bool flush();
    // Ends the member (final piece and trailer) and closes the file. False when some byte of
    // the member could not be written.
    [[nodiscard]] bool close();
    // Closes without ending the member: for output that is thrown away.
    void abandon();

    bool isOpen() const { return m_file.isOpen(); }
    // Bytes in the file: what it held before plus what this member has written so far.
    std::int64_t size() const { return m_fileEnd; }
    const Status& status() const { return m_status; }

private:
    struct Piece {
        std::string input;
        std::string dictionary;
        bool last = false;
        // Set by a worker:
        std::string output;
        std::uint32_t crc = 0;
        bool failed = false;
        bool done = false;
    };

    void startWorkers();
    void stopWorkers();
    void work();
    void submit(bool last);
    // Writes finished pieces from the front; waits for them while more than `keep` are in
    // flight. False after a failed write or deflate.
    bool drain(size_t keep);
    bool writeOut(std::string_view bytes);
    void fail(Status why);

    int m_level;
    unsigned m_workerCount;
    size_t m_pieceSize;

    FileHandle m_file;
    std::string m_path;
    std::int64_t m_fileEnd = 0;
    std::string m_filling;  // input not yet handed to a worker
    std::string m_window;   // the last 32 KiB of input handed over
    std::uint32_t m_crc = 0;
    std::uint64_t m_inputSize = 0;
    bool m_failed = false;
    Status m_status;

    std::mutex m_mutex;
    std::condition_variable m_workAvailable;
    std::condition_variable m_pieceDone;
    std::deque<std::unique_ptr<Piece>> m_inFlight;  // in stream order
    std::deque<Piece*> m_todo;                      // not yet taken by a worker
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

}  // namespace kestrel
