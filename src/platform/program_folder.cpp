// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/program_folder.h"

#include <pwd.h>
#include <unistd.h>

#include "platform/fs.h"

namespace kestrel {
namespace {

std::string homeFolder() {
    if (auto home = fs::getEnv("HOME"); home && !home->empty()) {
        return *home;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "";
}

}  // namespace

std::string userConfigHome() {
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    if (auto config = fs::getEnv("XDG_CONFIG_HOME"); config && config->starts_with('/')) {
        return *config;
    }
    const std::string home = homeFolder();
    return home.empty() ? "" : fs::join(home, ".config");
}

ProgramFolder::ProgramFolder(std::string home, std::vector<std::string> assetRoots)
    : m_home(std::move(home)), m_assetRoots(std::move(assetRoots)) {}

ProgramFolder ProgramFolder::resolve(const std::optional<std::string>& homeOption) {
    std::string home;
    if (homeOption && !homeOption->empty()) {
        home = *homeOption;
    } else if (auto env = fs::getEnv("KESTREL_HOME"); env && !env->empty()) {
        home = *env;
    } else if (auto xdg = fs::getEnv("XDG_DATA_HOME"); xdg && !xdg->empty()) {
        home = fs::join(*xdg, "kestrel");
    } else {
        home = fs::join(fs::join(fs::getEnv("HOME").value_or("."), ".local/share"), "kestrel");
    }
    home = fs::absolutePath(home);
    std::vector<std::string> roots;
    const std::string exeDir = fs::executableDir();
    if (!exeDir.empty()) {
        const std::string prefix = fs::parentOf(exeDir);
        roots.push_back(prefix);
        roots.push_back(fs::join(prefix, "share/kestrel"));
    }
    return ProgramFolder(home, std::move(roots));
}

bool ProgramFolder::create(std::string* error) const {
    if (!fs::makePrivateDirs(m_home, error)) {
        return false;
    }
    // A folder of another user's cannot be changed; it is used all the same.
    static_cast<void>(fs::makePrivate(m_home));
    for (const char* folder : {"temp", "logs"}) {
        static_cast<void>(fs::makePrivateDirs(path(folder)) && fs::makePrivate(path(folder)));
    }
    return true;
}

std::string ProgramFolder::path(std::string_view relative) const {
    return fs::join(m_home, relative);
}

std::string ProgramFolder::tempDir() const {
    return fs::join(m_home, "temp") + fs::kSeparator;
}

std::optional<std::string> ProgramFolder::findAsset(std::string_view relative) const {
    if (std::string candidate = path(relative); fs::exists(candidate)) {
        return candidate;
    }
    for (const std::string& root : m_assetRoots) {
        if (std::string candidate = fs::join(root, relative); fs::exists(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace kestrel
