// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/dsk_file.h"
#include "archive/meta.h"
#include "jobs/backup.h"

namespace kestrel {

class RunControl;
class Settings;

// The working list of a run: the files to store, in the order they were found. Held in blocks,
// not one array: a million records grow without a copy of them all at twice the room, and
// dropping files gives their room back.
using WorkingList = std::deque<clsDskFile>;

// What an archive's facts file records of the listed tree besides its files: the folders walked
// and those above the sources, which folders are empty, and the symbolic links, which are kept
// as links instead of being followed.
struct TreeFacts {
    std::unordered_map<std::string, PosixFacts> folders;  // by path
    std::vector<std::string> emptyFolders;
    std::vector<LinkFact> links;

    // Records path and every folder above it that is not recorded yet.
    void addFolderAndAbove(const std::string& path);

    // What a session that stores files records: the folders above them and above its links,
    // its empty folders, and its links, in path order. previous (an incremental run's earlier
    // sessions): links and empty folders recorded there as they are now are left out, as
    // unchanged files are.
    SessionFacts forSession(const WorkingList& files, const Meta* previous) const;
};

// Drops, for each catalogue record in order, the first listed file with the same full name and
// last-write time not yet matched: the semantics of a walk of the list per record, with one
// hashed lookup each. The records come one at a time as the catalogue is read; what is held is
// 12 bytes per listed file, not a copy of its name.
class UnchangedFiles {
public:
    explicit UnchangedFiles(const WorkingList& list);
    // Marks the first listed file of that name and time not marked yet, if there is one.
    void match(const std::string& name, const FileTime& time);
    // Removes the marked files; the list must be the one the object was made from, unchanged.
    void dropFrom(WorkingList& list) const;

private:
    // The key in two halves keeps an entry at 12 bytes, not 16.
    struct Entry {
        std::uint32_t keyHigh;
        std::uint32_t keyLow;
        std::uint32_t index;  // equal keys in list order, so the first listed file is met first
        Entry(std::uint64_t key, std::uint32_t at)
            : keyHigh(static_cast<std::uint32_t>(key >> 32)),
              keyLow(static_cast<std::uint32_t>(key)),
              index(at) {}
        std::uint64_t key() const { return (std::uint64_t{keyHigh} << 32) | keyLow; }
        bool operator<(const Entry& o) const {
            return key() != o.key() ? key() < o.key() : index < o.index;
        }
    };

    const WorkingList& m_list;
    std::vector<Entry> m_byKey;
    std::vector<bool> m_drop;
};

// Counts of what the listing could not take.
struct ListingProblems {
    std::int64_t unreadable = 0;  // folders or files that could not be read
};

// A folder the listing leaves out wherever a source holds it, with a log line (messageKey, "%d"
// = the folder as the walk met it).
struct LeftOutFolder {
    std::string path;
    std::string messageKey;
};

// The folders a run of the job must not back up: its local destination and the program folder.
// Their content grows with every run, so each run would store the earlier runs' output again.
std::vector<LeftOutFolder> ownFolders(const std::string& programFolder, const clsBackup& job);

// Appends every file below the folder, depth first in the order the file system lists them.
// Links to folders are not followed; entries that are not regular files are skipped with a log
// line; unreadable folders are logged and counted. A folder of leaveOut (the same folder, by
// identity, whatever path leads to it) is not entered, also when it is the folder itself. Stops
// early when the run is aborted. With facts (an archive job), the folders are recorded there and
// every symbolic link is recorded as a link instead; without, a link to a file stands for it.
void SearchFiles(RunControl& rc, const std::string& folder, WorkingList& list,
                 ListingProblems& problems, const std::vector<LeftOutFolder>& leaveOut = {},
                 TreeFacts* facts = nullptr);

// Appends the record of one file entry of a job (its size as the job stored it). A file that is
// gone still gets a record, with an empty name, and fails later when it is stored.
void MakeSingleFileEntry(RunControl& rc, const clsBackupFile& entry, WorkingList& list,
                         ListingProblems& problems, TreeFacts* facts = nullptr);

// Removes the records the masks reject. A mask is a ";" list of patterns; a pattern matches a
// name that ends in the pattern with every "*" and "." removed, compared without case. When
// the include mask holds more than "*.*", only matching names stay (the exclude mask is then
// not used); otherwise names matching the exclude mask go.
void ApplyMasks(RunControl& rc, const std::string& includeMask, const std::string& excludeMask,
                WorkingList& list, TreeFacts* facts = nullptr);

// The masks the editor remembers, ten of each kind, in the settings section "masks" (keys
// "imask01" ... "imask10", "emask01" ... "emask10"). A slot holding only blanks is empty.
enum class MaskKind { Include, Exclude };
// "*.*", then the masks of the slots that are not empty, in slot order.
std::vector<std::string> RefreshMasks(const Settings& settings, MaskKind kind);
// Remembers the mask, without the blanks around it, in the first empty slot; false when it is
// blank, already listed, or all ten slots are taken.
[[nodiscard]] bool RememberMask(Settings& settings, MaskKind kind, std::string_view mask);

}  // namespace kestrel
