// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "platform/file_lock.h"

namespace kestrel {

// A private working folder (a restore's catalogue and volumes, a listing's catalogue copy)
// below the temporary folder, so that work beside a running backup never touches its files.
// The folder and everything in it is removed when the object ends. A lock held on a file inside
// tells the folders of live holders from those a crashed process left behind.
class ScratchDir {
public:
    static constexpr const char* kPrefix = "scratch-";

    // Creates a new scratch folder in parent (which must exist). Nothing (with *error) when it
    // cannot be made.
    static std::optional<ScratchDir> create(const std::string& parent,
                                            std::string* error = nullptr);
    // Removes every scratch folder in parent whose holder is gone; returns how many.
    static int removeStale(const std::string& parent);

    ScratchDir(ScratchDir&& other) noexcept;
    ScratchDir& operator=(ScratchDir&& other) noexcept;
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir();

    const std::string& path() const { return m_path; }

private:
    ScratchDir(std::string path, FileLock lock)
        : m_path(std::move(path)), m_lock(std::move(lock)) {}
    void remove();

    std::string m_path;
    FileLock m_lock;
};

}  // namespace kestrel
