// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/unique_fd.h"

// Plain file-system operations on byte-string paths. Every function reports failure through its
// result and, where it takes one, an error text or a Status of the failing call; none throws.
namespace kestrel::fs {

inline constexpr char kSeparator = '/';

// Joins two path parts with one separator between them.
std::string join(std::string_view a, std::string_view b);
// The folder part of a path ("" when the path has no separator).
std::string parentOf(std::string_view path);
// The last component of a path.
std::string fileNameOf(std::string_view path);

bool exists(const std::string& path);

// What tells one version of a file from the next: its identity, size and change time.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t changeNs = 0;  // status change time in nanoseconds
    bool operator==(const FileStamp&) const = default;
};
FileStamp stampOf(const std::string& path);
bool isDirectory(const std::string& path);
// Whether this process may create files in the folder.
bool isWritableDirectory(const std::string& path);
bool isRegularFile(const std::string& path);
std::optional<std::int64_t> fileSize(const std::string& path);

// Creates the folder and every missing parent. True when the folder exists afterwards.
[[nodiscard]] bool makeDirs(const std::string& path, std::string* error = nullptr);
// As makeDirs, for the program's own folders: every folder it creates is 0700 whatever the
// umask. One that was there already stays as it is (see makePrivate).
[[nodiscard]] bool makePrivateDirs(const std::string& path, std::string* error = nullptr);
// Takes the group and other permission bits off a file or folder (through a symbolic link, off
// what it leads to). False when it cannot (another user's); a file system without modes (FAT)
// may take the change and keep its own.
[[nodiscard]] bool makePrivate(const std::string& path, std::string* error = nullptr);
// Makes path a folder of this user's alone, for plaintext no one else may see: created 0700 with
// its missing parents, or an existing folder of the user's made 0700 (as makePrivate). False
// when something else is there (a symbolic link, another user's folder, a file).
[[nodiscard]] bool makeOwnPrivateDir(const std::string& path, std::string* error = nullptr);
[[nodiscard]] bool removeFile(const std::string& path, std::string* error = nullptr);
// Removes a file (or an empty folder) that was only ever a scratch copy (a partial download, an
// intermediate file), where its failure changes nothing for the caller.
void removeLeftover(const std::string& path);
[[nodiscard]] bool renameFile(const std::string& from, const std::string& to,
                              std::string* error = nullptr);
// Names of the entries of a folder, without "." and "..", in the order the system lists them.
[[nodiscard]] std::optional<std::vector<std::string>> listDir(const std::string& path,
                                                              std::string* error = nullptr);
// What a folder's listing tells of a regular file in it.
struct EntryFacts {
    std::int64_t size = 0;
    std::int64_t mtimeSeconds = 0;  // last write, since 1970-01-01 UTC
    std::int32_t mtimeNanoseconds = 0;
    unsigned mode = 0;  // permission bits
};
// The regular files directly in a folder whose names wanted accepts, by name: one pass over the
// folder, each wanted name examined against the open folder. Links are not followed, so a link
// is never taken for a file. Nothing when the folder cannot be read.
[[nodiscard]] std::optional<std::unordered_map<std::string, EntryFacts>> regularFilesIn(
    const std::string& folder, const std::function<bool(std::string_view)>& wanted);
// Deletes every regular file directly inside the folder (sub-folders stay). False when one
// could not be deleted or the folder could not be listed.
[[nodiscard]] bool deleteFilesIn(const std::string& path, std::string* error = nullptr);

// Reads the whole file. Nothing when it cannot be opened or read.
[[nodiscard]] std::optional<std::string> readFile(const std::string& path,
                                                  std::string* error = nullptr);

// Replaces the file's content as one step: writes a temporary file in the same folder with the
// given mode, flushes it to disk and renames it over the target, so that a crash leaves either
// the old or the new content, never a mix. A folder that cannot be flushed after the rename
// fails the write too, with the new content already in place.
[[nodiscard]] bool writeFileAtomic(const std::string& path, std::string_view data, unsigned mode,
                                   std::string* error = nullptr);

// Appends bytes to a file, creating it with the given mode when absent.
[[nodiscard]] bool appendToFile(const std::string& path, std::string_view data, unsigned mode,
                                std::string* error = nullptr);

// A file kept open for appending under one name (a log): an entry costs a stat of the name (size)
// and one write instead of an open and close each. When the name no longer leads to the open file
// (another process renamed or removed it), size() lets go of it and the next append opens the
// name again, so that entries never go into a file set aside. mode is the most the file may
// allow: a file found with more loses the rest when it is opened.
class AppendFile {
public:
    AppendFile(std::string path, unsigned mode) : m_path(std::move(path)), m_mode(mode) {}
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // The size of the file under the name now; nullopt when there is none. Call it before each
    // append: it is what follows the name.
    std::optional<std::int64_t> size();
    // Appends data, opening (creating) the file when it is not open.
    [[nodiscard]] bool append(std::string_view data, std::string* error = nullptr);
    // Lets go of the file (before it is renamed).
    void close();

private:
    std::string m_path;
    unsigned m_mode;
    UniqueFd m_fd;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
};

// The infix of a copy being written beside its target, and whether a file name is such a copy
// left behind by a process that was killed (*stem: the target's name).
inline constexpr std::string_view kPartInfix = ".part-";
bool isCopyLeftover(std::string_view name, std::string* stem = nullptr);
// The same for the temporary file of writeFileAtomic (NAME.tmp-XXXXXX).
inline constexpr std::string_view kAtomicInfix = ".tmp-";
bool isAtomicWriteLeftover(std::string_view name, std::string* stem = nullptr);

// Flushes a file's data, or a folder's entries (renames in it), to the disk.
[[nodiscard]] bool syncFile(const std::string& path, std::string* error = nullptr);
bool syncFolder(const std::string& path);

// The path made absolute against the current folder, with "." and ".." components and
// doubled separators removed (symbolic links are not resolved).
std::string absolutePath(std::string_view path);

// The permission bits of a copy. A copy is never readable by another user: what the source
// allowed others stays with the source.
enum class CopyMode {
    Private,    // 0600: a file of the program's own (a volume, a catalogue, a working copy)
    OwnerBits,  // the source's bits for its owner (read-only and executable stay), no others
};

// Copies a regular file's content and last-access and last-write times, with the permission
// bits mode says. The copy is written beside the target (TARGET.part-XXXXXX, 0600 while it is
// written) and renamed over it when complete; a failed copy leaves no partial file.
// *status tells why it failed (isDiskFull for lack of space). keepGoing, when given, is called
// before each piece of a few megabytes; when it returns false the copy stops and fails.
// intoFolder and fromFolder, when not -1, are open descriptors of to's and from's folders:
// the names are then looked up in them instead of walking the whole paths for each file.
[[nodiscard]] bool copyFile(const std::string& from, const std::string& to,
                            Status* status = nullptr,
                            const std::function<bool()>& keepGoing = nullptr,
                            CopyMode mode = CopyMode::Private, int intoFolder = -1,
                            int fromFolder = -1);
// A folder opened for copyFile's intoFolder; invalid when it cannot be opened.
UniqueFd openFolder(const std::string& path);

// Removes a file, or a folder with everything in it (links are removed, never followed). True
// when nothing is left under the path.
[[nodiscard]] bool removeTree(const std::string& path, std::string* error = nullptr);

// Creates a new folder with a unique name (prefix + six characters) in parent, mode 0700.
[[nodiscard]] std::optional<std::string> makeUniqueDir(const std::string& parent,
                                                       const std::string& prefix,
                                                       std::string* error = nullptr);

// The running executable's absolute path, and the folder that holds it ("" when unknown).
std::string executablePath();
std::string executableDir();

// The value of an environment variable; nothing when unset.
std::optional<std::string> getEnv(const char* name);

}  // namespace kestrel::fs
