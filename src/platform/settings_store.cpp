// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settings_store.h"

#include "platform/file_lock.h"
#include "platform/ini_file.h"

namespace kestrel {
namespace {
constexpr unsigned kPrivateMode = 0600;
constexpr int kLockWaitMs = 10'000;

// Changes read the file, change it and write it back: two processes doing so at once would
// lose one change without the lock.
bool lockForChange(const std::string& path, FileLock& lock) {
    return lock.lock(path + ".lock", kLockWaitMs) == FileLock::Result::Acquired;
}
}  // namespace

std::optional<std::string> SettingsStore::read(std::string_view key, std::string_view name) const {
    IniFile ini;
    if (ini.load(m_path) != IniFile::LoadResult::Loaded) {
        return std::nullopt;
    }
    return ini.value(key, name);
}

bool SettingsStore::write(std::string_view key, std::string_view name, std::string_view value) {
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos ||
        name.find_first_of("=\r\n") != std::string_view::npos || name.empty()) {
        return false;
    }
    FileLock lock;
    IniFile ini;
    if (!lockForChange(m_path, lock) || ini.load(m_path) == IniFile::LoadResult::Failed) {
        return false;
    }
    ini.writeValue(key, name, value);
    return ini.save(m_path, kPrivateMode);
}

bool SettingsStore::remove(std::string_view key, std::string_view name) {
    FileLock lock;
    if (!lockForChange(m_path, lock)) {
        return false;
    }
    IniFile ini;
    const auto loaded = ini.load(m_path);
    if (loaded == IniFile::LoadResult::Missing) {
        return true;
    }
    if (loaded == IniFile::LoadResult::Failed) {
        return false;
    }
    if (!ini.removeValue(key, name)) {
        return true;
    }
    return ini.save(m_path, kPrivateMode);
}

SettingsStore::KeyDisposition SettingsStore::createKey(std::string_view key) {
    FileLock lock;
    IniFile ini;
    if (!lockForChange(m_path, lock) || ini.load(m_path) == IniFile::LoadResult::Failed) {
        return KeyDisposition::Failed;
    }
    if (!ini.ensureSection(key)) {
        return KeyDisposition::Opened;
    }
    return ini.save(m_path, kPrivateMode) ? KeyDisposition::Created : KeyDisposition::Failed;
}

}  // namespace kestrel
