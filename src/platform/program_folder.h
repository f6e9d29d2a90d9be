// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The program folder: it holds the job store, the settings, logs/ and temp/. Read-only assets
// that ship with the program (Languages/*.lng, bin/bfish, help/) are looked up here first and
// then beside the executable, so that a build tree and an installed copy work alike.
class ProgramFolder {
public:
    // home: the program folder itself. assetRoots: further folders searched for assets, in order.
    explicit ProgramFolder(std::string home, std::vector<std::string> assetRoots = {});

    // The folder chosen for this process: homeOption (from --home) when given, else
    // $KESTREL_HOME, else ${XDG_DATA_HOME:-~/.local/share}/kestrel. Assets are also searched
    // in the executable's parent folder and in its ../share/kestrel.
    static ProgramFolder resolve(const std::optional<std::string>& homeOption);

    // Creates the program folder with its temp/ and logs/, private to the user (0700; folders
    // of the user's that were there lose their group and other bits): it holds the job store
    // and the plaintext of running backups. False (with *error) only when the program folder
    // itself cannot be made; the others are made again where they are used.
    [[nodiscard]] bool create(std::string* error = nullptr) const;

    const std::string& home() const { return m_home; }
    // The program folder joined with a relative path ("backups.ini", "logs/kestrel.log").
    std::string path(std::string_view relative) const;
    // The temporary folder, with a trailing separator as the engine appends names to it.
    std::string tempDir() const;
    // The first existing file or folder named by the relative path in the program folder or an
    // asset root; nothing when none has it.
    std::optional<std::string> findAsset(std::string_view relative) const;
    const std::vector<std::string>& assetRoots() const { return m_assetRoots; }

private:
    std::string m_home;
    std::vector<std::string> m_assetRoots;
};

// The user's configuration folder: $XDG_CONFIG_HOME when it is absolute, else ~/.config; "" when
// no home folder is known.
std::string userConfigHome();

}  // namespace kestrel
