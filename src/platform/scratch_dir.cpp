// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/scratch_dir.h"

#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {
constexpr const char* kLockName = ".lock";
}

std::optional<ScratchDir> ScratchDir::create(const std::string& parent, std::string* error) {
    // A sweep of stale folders may take a new one before its lock is held; then try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto path = fs::makeUniqueDir(parent, kPrefix, error);
        if (!path) {
            return std::nullopt;
        }
        FileLock lock;
        if (lock.tryLock(fs::join(*path, kLockName), error) == FileLock::Result::Acquired) {
            return ScratchDir(std::move(*path), std::move(lock));
        }
        fs::removeLeftover(*path);  // still empty
    }
    return std::nullopt;
}

int ScratchDir::removeStale(const std::string& parent) {
    auto names = fs::listDir(parent);
    if (!names) {
        return 0;
    }
    int removed = 0;
    for (const std::string& name : *names) {
        const std::string path = fs::join(parent, name);
        if (!text::startsWith(name, kPrefix) || !fs::isDirectory(path)) {
            continue;
        }
        FileLock probe;
        if (probe.tryLock(fs::join(path, kLockName)) == FileLock::Result::Acquired) {
            probe.unlock();
            removed += fs::removeTree(path) ? 1 : 0;
        }
    }
    return removed;
}

ScratchDir::ScratchDir(ScratchDir&& other) noexcept
    : m_path(std::move(other.m_path)), m_lock(std::move(other.m_lock)) {
    other.m_path.clear();
}

ScratchDir& ScratchDir::operator=(ScratchDir&& other) noexcept {
    if (this != &other) {
        remove();
        m_path = std::move(other.m_path);
        m_lock = std::move(other.m_lock);
        other.m_path.clear();
    }
    return *this;
}

ScratchDir::~ScratchDir() {
    remove();
}

void ScratchDir::remove() {
    if (m_path.empty()) {
        return;
    }
    // Removed while still locked, so that a stale-folder sweep never races the owner.
    if (!fs::removeTree(m_path)) {
        // What cannot be removed now is swept at the next start or run.
    }
    m_lock.unlock();
    m_path.clear();
}

}  // namespace kestrel
