// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "archive/gzip_read_ahead.h"
#include "archive/parallel_gzip.h"
#include "platform/file_handle.h"
#include "platform/status.h"

struct gzFile_s;

namespace kestrel {

class RunControl;

// One open file with block reads and writes at explicit 64-bit positions, either plain or, with
// bCompressed set before fOpen, through a gzip stream (read: "rb", write: a new member appended
// at level 9, deflated on every core). A compressed stream is read at uncompressed offsets and
// written in order only.
//
// Plain files are buffered: sequential reads are served from a read-ahead buffer, sequential
// writes collected and written in large pieces. fFlush (and fClose) push the collected bytes to
// the system and tell whether all of them were written; callers that must know (the archive,
// before it records a file) call it.
class clsFile {
public:
    // The results and modes of fOpen, with the values the file layer has always used.
    enum class OpenResult { Ok = 1, Failed = 2 };
    enum class Mode { Read = 1, Write = 2, ReadWrite = 3 };

    // rc, when given, receives the log line of a failed open and is yielded to during reads.
    explicit clsFile(RunControl* rc = nullptr) : m_ctx(rc) {}
    ~clsFile();
    clsFile(const clsFile&) = delete;
    clsFile& operator=(const clsFile&) = delete;

    // Opens for reading, writing or both; writing creates a missing file. Sets filesize for
    // plain files.
    [[nodiscard]] OpenResult fOpen(const std::string& path, Mode mode);
    // Reads up to count bytes at position into data; returns the number read, 0 at the end.
    std::int64_t fRead(std::string& data, std::int64_t count, std::int64_t position);
    // Writes data padded with NUL bytes to count bytes at position (ignored when compressed:
    // the stream is appended to). Returns count, or 0 when the bytes cannot be written.
    std::int64_t fWrite(std::string_view data, std::int64_t count, std::int64_t position);
    // Pushes buffered bytes to the system; false when some could not be written.
    [[nodiscard]] bool fFlush();
    // Closes the file; false when buffered or compressed bytes could not be written.
    [[nodiscard]] bool fClose();
    // Closes a file whose writes do not matter (it was only read, or its content is abandoned).
    void closeQuietly();
    // Cuts a plain file at position; does nothing for position 0 or a compressed stream.
    void TruncateFile(std::int64_t position);

    // The bytes in the file: for a plain file including those still buffered; for a compressed
    // stream being written, its compressed length, exact after a sync flush when exact is set
    // (which ends the current deflate block), else what has reached the file so far.
    std::int64_t sizeOnDisk(bool exact = true);
    bool isOpen() const { return m_plain.isOpen() || m_gz != nullptr || m_gzOut != nullptr; }
    // The plain file's handle (to set a restored file's times before it is closed).
    FileHandle& handle() { return m_plain; }
    // Why the last call failed, and whether the disk (or quota) was full.
    const Status& status() const { return m_status; }

    std::int64_t filesize = 0;
    bool bCompressed = false;
    // Set before fOpen to refuse anything but a regular file (FIFOs and devices would block).
    bool regularOnly = false;

private:
    bool flushWrites();
    void noteFailure(Status why);

    RunControl* m_ctx;
    FileHandle m_plain;
    gzFile_s* m_gz = nullptr;                 // a compressed stream being read
    std::unique_ptr<GzipReadAhead> m_gzRead;  // ... inflated ahead of the reads
    std::unique_ptr<ParallelGzip> m_gzOut;    // ... being written
    std::string m_path;

    std::string m_readBuf;
    std::int64_t m_readPos = 0;
    std::string m_writeBuf;
    std::int64_t m_writePos = 0;
    bool m_writeFailed = false;

    Status m_status;
};

}  // namespace kestrel
