// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Program settings as text values in a tree of keys, kept in one INI file (settings.ini in the
// program folder): one section per key path ("Backup\General Settings"), value names compared
// without case. The file is read on every call and rewritten atomically, mode 0600, on every
// change under a lock (settings.ini.lock), so that two processes (the desktop program and the
// service) see each other's changes and lose none.
class SettingsStore {
public:
    enum class KeyDisposition { Failed = 0, Created = 1, Opened = 2 };

    explicit SettingsStore(std::string path) : m_path(std::move(path)) {}

    const std::string& path() const { return m_path; }
    // The value, or nothing when the key or value is absent or the file cannot be read.
    std::optional<std::string> read(std::string_view key, std::string_view name) const;
    // Stores a value, creating the key when needed. False when the value cannot be stored (it
    // holds a line break or NUL) or the file cannot be written.
    [[nodiscard]] bool write(std::string_view key, std::string_view name, std::string_view value);
    // Deletes a value; true when it is gone afterwards.
    [[nodiscard]] bool remove(std::string_view key, std::string_view name);
    // Creates the key (an empty section) unless it exists.
    KeyDisposition createKey(std::string_view key);

private:
    std::string m_path;
};

}  // namespace kestrel
