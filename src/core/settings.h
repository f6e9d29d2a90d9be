// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace kestrel {

class ProgramFolder;

inline constexpr std::string_view kSettingsArea = "Backup";
inline constexpr std::string_view kGeneralSettings = "General Settings";
// The maker's key under which every settings path lies.
inline constexpr std::string_view kMakerKey = "Software\\Brightmoor Soft\\";

// Program settings by area, section and name, and the in-memory copies the program keeps of
// a few of them.
class Settings {
public:
    explicit Settings(SettingsStore& store) : m_store(store) {}

    // The stored text, or the default when the value is absent or empty.
    std::string GetSetting(std::string_view area, std::string_view section, std::string_view name,
                           std::string_view defaultValue = "") const;
    // Stores the text; a text that is blank after trimming deletes the value. True when the
    // value was written or deleted.
    [[nodiscard]] bool SaveSetting(std::string_view area, std::string_view section,
                                   std::string_view name, std::string_view value);
    // Creates a key given by its full path, with or without the maker's key in front
    // ("Software\Brightmoor Soft\Backup\masks"). Returns 1 created, 2 opened, 0 on failure.
    int RegCreateKey(std::string_view path);

    // Shorthands for the section "General Settings" of the area "Backup".
    std::string general(std::string_view name, std::string_view defaultValue = "") const {
        return GetSetting(kSettingsArea, kGeneralSettings, name, defaultValue);
    }
    [[nodiscard]] bool saveGeneral(std::string_view name, std::string_view value) {
        return SaveSetting(kSettingsArea, kGeneralSettings, name, value);
    }

    // Reads "Language" (absent: the language of the user's locale), "RunAsService", "style" and
    // "blockSchedule" into the in-memory copies.
    void loadStartupValues(const ProgramFolder& folder);

    // In-memory copies.
    std::string languageFilePath;  // "" = built-in English only
    std::int32_t RunAsService = 0;
    bool blockSchedule = true;
    std::uint8_t style = 1;

private:
    SettingsStore& m_store;
};

// The language file for a language name: Languages/<name>.lng in the program folder or beside
// the executable, matched without regard to case; else Languages/english.lng; else "".
std::string findLanguageFile(const ProgramFolder& folder, std::string_view language);

// The locale the user's messages are in: LC_ALL, else LC_MESSAGES, else LANG (the first that is
// set and not empty); "" when none is.
std::string userLocale();
// The language a locale names, in lower case: "de_DE.UTF-8" and "de_AT@euro" -> "de"; "" for
// "C", "POSIX" and what names no language.
std::string localeLanguage(std::string_view locale);
// The language file for a locale when the user has chosen none: the first whose message
// "strMsgLocale" names the locale's language; else as findLanguageFile for "english".
std::string findLanguageFileForLocale(const ProgramFolder& folder, std::string_view locale);

}  // namespace kestrel
