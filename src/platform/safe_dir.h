// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_handle.h"
#include "platform/unique_fd.h"

namespace kestrel {

// An open folder reached from a trusted root without following symbolic links planted below it,
// so that a restore's writes cannot be redirected elsewhere (target/Docs -> /etc). Every
// operation works on the descriptor and names one entry of the folder, never a path. Move-only;
// the destructor closes the folder.
class SafeDir {
public:
    enum class LinkPolicy {
        Never,            // no symbolic link below the root is followed
        OwnedByRootOrMe,  // only links owned by root or by this process's user are followed
    };

    // Opens root (trusted, may itself be a link), then each component of relative ("a/b/c";
    // empty and "." components are skipped, ".." is refused). With create, missing folders are
    // made. Nothing (with *error) when a component is missing, not a folder or a link the
    // policy does not allow.
    static std::optional<SafeDir> open(const std::string& root, const std::string& relative,
                                       bool create, LinkPolicy policy,
                                       std::string* error = nullptr);

    SafeDir(SafeDir&& other) noexcept = default;
    SafeDir& operator=(SafeDir&& other) noexcept = default;

    // Creates a new file (mode 0600, or mode as the umask leaves it) in the folder under a
    // unique name derived from finalName (FINAL.kestrel-XXXXXX) and opens it for writing into
    // out; *tempName receives the name. The file is locked (flock) for as long as out holds it
    // open, so that another process that clears leftovers can tell it from one a killed process
    // left.
    [[nodiscard]] bool createTemp(const std::string& finalName, FileHandle& out,
                                  std::string* tempName, std::string* error = nullptr,
                                  unsigned mode = 0600);
    // Whether name is exactly what createTemp makes for finalName: its (cut) stem, ".kestrel-"
    // and six letters or digits.
    static bool isTempNameFor(std::string_view name, std::string_view finalName);
    // The entries of the folder named as createTemp names its files, whatever their final name.
    std::vector<std::string> tempNames() const;
    static bool isTempName(std::string_view name);
    // Every entry of the folder; nothing when it cannot be read.
    std::optional<std::vector<std::string>> entries() const;
    // Deletes a temporary file that a killed process left: only a regular file of this user
    // that no process holds locked (one being written is kept). False (with *error when
    // something failed) when it was not deleted.
    bool removeTempLeftover(const std::string& name, std::string* error = nullptr);
    // Renames tempName to finalName, replacing what is there (a link is replaced, its target
    // left alone), and flushes the folder so that the new name survives a crash; with
    // flushFolder false the caller flushes the whole file system later (DeferredSync).
    [[nodiscard]] bool renameInto(const std::string& tempName, const std::string& finalName,
                                  std::string* error = nullptr, bool flushFolder = true);
    // Makes a symbolic link name -> target in the folder, replacing an entry that is not a
    // folder (through a temporary name, so the old entry stays until the link is whole). The
    // target is stored as it stands; nothing is followed.
    [[nodiscard]] bool createLink(const std::string& name, const std::string& target,
                                  std::string* error = nullptr);
    // Makes the folder name (mode 0700 until setFacts gives it its own); true also when a
    // folder (not a link) is there already.
    [[nodiscard]] bool makeFolder(const std::string& name, std::string* error = nullptr);
    // Gives the entry its permission bits (not for links, which have none of their own) and,
    // where allowed, its owner and group; the entry itself, never a link's target. mode < 0
    // leaves the bits; uid or gid < 0 leaves them.
    [[nodiscard]] bool setFacts(const std::string& name, std::int64_t mode, std::int64_t uid,
                                std::int64_t gid, std::string* error = nullptr);
    // Whether the entry is a folder (not followed).
    bool isFolder(const std::string& name) const;
    // Deletes an entry that is not a folder; true also when there is none.
    bool remove(const std::string& name, std::string* error = nullptr);
    // Whether the entry is a symbolic link (not followed).
    bool isLink(const std::string& name) const;
    // Whether anything (a file, a folder, a link, even a dangling one) has the name.
    bool exists(const std::string& name) const;

    int fd() const { return m_fd.get(); }
    // The folder's path as text, for messages only.
    const std::string& path() const { return m_path; }

private:
    SafeDir(UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}
    bool enter(const std::string& name, bool create, LinkPolicy policy, std::string* error);

    UniqueFd m_fd;
    std::string m_path;
};

// The file systems that many files were written to, flushed to disk together (one syncfs each)
// instead of file by file: a restore of thousands of files would otherwise wait for the disk
// twice per file.
class DeferredSync {
public:
    DeferredSync() = default;
    DeferredSync(const DeferredSync&) = delete;
    DeferredSync& operator=(const DeferredSync&) = delete;

    // Remembers the folder's file system (once per file system).
    void add(const SafeDir& dir);
    // Flushes every remembered file system; false (with *error) when one reports a failed
    // write since it was remembered.
    [[nodiscard]] bool flush(std::string* error = nullptr);

private:
    struct Remembered {
        std::uint64_t device = 0;
        UniqueFd fd;
        std::string path;  // the first folder seen there, for messages
    };
    std::vector<Remembered> m_fds;
};

}  // namespace kestrel
