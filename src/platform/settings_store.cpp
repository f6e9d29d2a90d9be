#include "platform/settings_store.h"

#include "platform/ini_file.h"

namespace kestrel {
namespace {
constexpr unsigned kPrivateMode = 0600;
}

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
    IniFile ini;
    if (ini.load(m_path) == IniFile::LoadResult::Failed) {
        return false;
    }
    ini.writeValue(key, name, value);
    return ini.save(m_path, kPrivateMode);
}

bool SettingsStore::remove(std::string_view key, std::string_view name) {
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
    IniFile ini;
    if (ini.load(m_path) == IniFile::LoadResult::Failed) {
        return KeyDisposition::Failed;
    }
    if (!ini.ensureSection(key)) {
        return KeyDisposition::Opened;
    }
    return ini.save(m_path, kPrivateMode) ? KeyDisposition::Created : KeyDisposition::Failed;
}

}  // namespace kestrel
