// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/settings.h"

#include <algorithm>
#include <vector>

#include "core/language_file.h"
#include "platform/fs.h"
#include "platform/program_folder.h"
#include "platform/text.h"

namespace kestrel {
namespace {

std::string keyPath(std::string_view area, std::string_view section) {
    return std::string(area) + "\\" + std::string(section);
}

std::optional<std::string> findCaseInsensitive(const std::string& folder,
                                               std::string_view fileName) {
    if (std::string exact = fs::join(folder, fileName); fs::isRegularFile(exact)) {
        return exact;
    }
    auto names = fs::listDir(folder);
    if (!names) {
        return std::nullopt;
    }
    for (const std::string& name : *names) {
        if (text::iequals(name, fileName) && fs::isRegularFile(fs::join(folder, name))) {
            return fs::join(folder, name);
        }
    }
    return std::nullopt;
}

// Where language files are looked for, the program folder first.
std::vector<std::string> languageDirs(const ProgramFolder& folder) {
    std::vector<std::string> dirs = {folder.path("Languages")};
    for (const std::string& root : folder.assetRoots()) {
        dirs.push_back(fs::join(root, "Languages"));
    }
    return dirs;
}

}  // namespace

std::string Settings::GetSetting(std::string_view area, std::string_view section,
                                 std::string_view name, std::string_view defaultValue) const {
    auto value = m_store.read(keyPath(area, section), name);
    if (!value) {
        return std::string(defaultValue);
    }
    // A value is text up to its first NUL, as the settings store hands it out.
    if (const size_t nul = value->find('\0'); nul != std::string::npos) {
        value->resize(nul);
    }
    return value->empty() ? std::string(defaultValue) : *value;
}

bool Settings::SaveSetting(std::string_view area, std::string_view section, std::string_view name,
                           std::string_view value) {
    if (text::trimBlanks(value).empty()) {
        return m_store.remove(keyPath(area, section), name);
    }
    return m_store.write(keyPath(area, section), name, value);
}

int Settings::RegCreateKey(std::string_view path) {
    if (text::iequals(path.substr(0, kMakerKey.size()), kMakerKey)) {
        path.remove_prefix(kMakerKey.size());
    }
    while (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    if (path.empty()) {
        return 0;
    }
    return static_cast<int>(m_store.createKey(path));
}

void Settings::loadStartupValues(const ProgramFolder& folder) {
    // Until the user chooses one, the language is the desktop's.
    const std::string language = general("Language");
    languageFilePath = language.empty() ? findLanguageFileForLocale(folder, userLocale())
                                        : findLanguageFile(folder, language);
    RunAsService = static_cast<std::int32_t>(text::leadingInt(general("RunAsService", "0")));
    style = static_cast<std::uint8_t>(text::leadingInt(general("style", "1")));
    blockSchedule = text::leadingInt(general("blockSchedule", "1")) == 1;
}

std::string findLanguageFile(const ProgramFolder& folder, std::string_view language) {
    const std::vector<std::string> dirs = languageDirs(folder);
    for (const std::string_view name : {language, std::string_view("english")}) {
        if (name.empty() || name.find('/') != std::string_view::npos) {
            continue;
        }
        for (const std::string& dir : dirs) {
            if (auto found = findCaseInsensitive(dir, std::string(name) + ".lng")) {
                return *found;
            }
        }
    }
    return "";
}

std::string userLocale() {
    // The first one set wins, also when it is "C".
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (auto value = fs::getEnv(name); value && !value->empty()) {
            return *value;
        }
    }
    return "";
}

std::string localeLanguage(std::string_view locale) {
    const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
    // Language codes have two or three letters; "C" and "POSIX" name none.
    const bool letters = std::all_of(language.begin(), language.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
    if (!letters || language.size() < 2 || language.size() > 3) {
        return "";
    }
    return text::lower(language);
}

std::string findLanguageFileForLocale(const ProgramFolder& folder, std::string_view locale) {
    const std::string wanted = localeLanguage(locale);
    for (const std::string& dir :
         wanted.empty() ? std::vector<std::string>{} : languageDirs(folder)) {
        auto names = fs::listDir(dir);
        if (!names) {
            continue;
        }
        // The same choice whatever order the folder lists its files in.
        std::sort(names->begin(), names->end());
        for (const std::string& name : *names) {
            const std::string path = fs::join(dir, name);
            if (text::endsWith(text::lower(name), ".lng") && fs::isRegularFile(path) &&
                localeLanguage(LanguageFile(path).profileString("msgStrings", "strMsgLocale")) ==
                    wanted) {
                return path;
            }
        }
    }
    return findLanguageFile(folder, "english");
}

}  // namespace kestrel
