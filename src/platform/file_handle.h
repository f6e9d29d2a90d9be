// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <functional>

#include "platform/file_facts.h"
#include "platform/status.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace kestrel {

// One open file with positioned reads and writes at 64-bit offsets. Move-only; the destructor
// closes it.
class FileHandle {
public:
    enum class Mode { Read, Write, ReadWrite };

    FileHandle() = default;
    FileHandle(FileHandle&& other) noexcept = default;
    FileHandle& operator=(FileHandle&& other) noexcept = default;

    // Opens an existing file; Write and ReadWrite create a missing one, mode 0600 (never
    // truncating an existing one). regularOnly refuses anything but a regular file without
    // blocking on it (a FIFO or a device would hang the reader).
    [[nodiscard]] bool open(const std::string& path, Mode mode, bool regularOnly = false,
                            std::string* error = nullptr);
    // Creates a new file beside targetPath under a unique temporary name (mode 0600) and opens
    // it for writing; *tempPath receives its name.
    [[nodiscard]] bool createBeside(const std::string& targetPath, std::string* tempPath,
                                    std::string* error = nullptr);
    // Takes over an open descriptor (closing what was held); path names it in messages.
    bool adopt(int fd, const std::string& pathForMessages);
    [[nodiscard]] bool setMode(unsigned mode);
    bool isOpen() const { return m_fd.valid(); }
    void close();

    // Reads up to count bytes at pos, fewer only at the end of the file. -1 on error.
    std::int64_t readAt(void* buffer, std::int64_t count, std::int64_t pos);
    // Writes count bytes at pos; returns how many were written (fewer on error, e.g. a full
    // disk, which status() then tells).
    std::int64_t writeAt(const void* buffer, std::int64_t count, std::int64_t pos);
    std::optional<std::int64_t> size() const;
    // Hands the file's lines from its start to take, split as text::LineReader splits them, read
    // a piece at a time rather than whole; take returns false to stop. False when a read failed.
    [[nodiscard]] bool readLines(const std::function<bool(const text::Line&)>& take);
    // The open file's permission bits (with set-id and sticky), owner and group.
    struct Owner {
        std::uint32_t mode = 0;
        std::uint32_t uid = 0;
        std::uint32_t gid = 0;
    };
    std::optional<Owner> owner() const;
    [[nodiscard]] bool truncate(std::int64_t size);
    [[nodiscard]] bool sync();
    [[nodiscard]] bool setTimes(FileTime lastAccess, FileTime lastWrite);

    // The error of the last failed call.
    const Status& status() const { return m_status; }

private:
    void fail(const char* what);

    UniqueFd m_fd;
    std::string m_path;
    Status m_status;
};

}  // namespace kestrel
