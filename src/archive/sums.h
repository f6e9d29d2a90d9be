// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sodium.h>

// The checksum file beside a catalogue ("JOB.fs.sums"): a strong digest of every archived file,
// because the catalogue's own crc (an XOR of 32-bit words) misses swapped or shifted data.
//
//   KestrelSums=3|linesBefore=N                first line, then the records in frames:
//   kind (1 byte: 'S' begins a deflate stream, 'C' continues it), payload length (LEB128),
//   CRC-32 of the payload (4 bytes, little-endian), payload: raw deflate data that completes
//   exactly one record (a sync flush, its final 00 00 FF FF left off). Records:
//   'E' <32 bytes line> <32 bytes b2> <LEB128 length> <fname>   one per archived file,
//                                              appended with its catalogue line
//   'V' <LEB128 lines> <LEB128 bytes> <32 bytes cat>             after each session
//
// Every session begins a stream, and a stream ends after kStreamRecords records, so that a
// damaged frame costs the records of its stream only; within one the names compress against
// each other. Files of versions 1 and 2 are text, one line per record, and stay text when a
// session is appended to them (version 1 becomes 2):
//
//   KestrelSums=2|linesBefore=N                first line (version 1 files lack what follows
//                                              "b2=" and the covers lines)
//   line=<64 hex>|b2=<64 hex>|fname=<name>     one line per archived file
//   covers=<lines>|bytes=<n>|cat=<64 hex>      after each session
//
// line is the BLAKE2b-256 digest of the file's catalogue line (without its line end), so that a
// damaged catalogue line (another name, offset or time) finds no entry; b2 is the BLAKE2b-256
// digest of the file's bytes; fname names the file, so that a catalogue line that went missing
// can be named. linesBefore counts the catalogue lines that were there before the checksum file
// was begun (a set written by an older version): those have no entry and are only checked by
// their crc. A covers record gives the number of non-blank catalogue lines, the catalogue's size
// and the digest of its bytes: lines after the last one it counts were not written with this
// file (another writer appended them), and a catalogue none of whose covers or lines match is
// not the one this file belongs to. Damaged records are numbered like lines: the first line is
// 1, and in version 3 each frame counts as one line.
namespace kestrel {

inline constexpr std::string_view kSumsSuffix = ".sums";

using Digest = std::array<unsigned char, 32>;

// BLAKE2b-256 over bytes fed in pieces.
class ContentDigest {
public:
    ContentDigest();
    void update(std::string_view bytes);
    Digest final();

private:
    crypto_generichash_state m_state;
};

// The same digest, computed on a worker thread of its own in large pieces while the caller
// goes on reading and writing: the archive's and the restore's speed is then that of their I/O,
// not of the hash. The thread starts with the first large file and ends with the object.
class ParallelDigest {
public:
    ParallelDigest() = default;
    ~ParallelDigest();
    ParallelDigest(const ParallelDigest&) = delete;
    ParallelDigest& operator=(const ParallelDigest&) = delete;

    void begin();
    void update(std::string_view bytes);
    Digest final();

private:
    static constexpr size_t kPiece = 1 << 20;
    void handOver();
    void waitIdle(std::unique_lock<std::mutex>& lock);
    void work();

    ContentDigest m_digest;  // updated by the worker while a piece is handed over
    std::string m_filling;   // the caller's
    std::string m_handed;    // the worker's while m_busy
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};

Digest digestOf(std::string_view bytes);
std::string digestHex(const Digest& d);
std::optional<Digest> parseDigestHex(std::string_view hex);

// What a covers record tells of a catalogue: its non-blank lines, its size and its digest.
struct CatalogueState {
    size_t lines = 0;
    std::int64_t bytes = 0;
    Digest digest{};
};
// Taken from the catalogue's bytes fed in pieces of any size.
class CatalogueStateReader {
public:
    void update(std::string_view piece);
    CatalogueState final();

private:
    ContentDigest m_digest;
    CatalogueState m_state;
    bool m_nonBlank = false;   // the current line holds more than blanks
    bool m_crPending = false;  // it ends in a CR so far, which a line end would take away
};
CatalogueState catalogueStateOf(std::string_view catalogue);
// The same read from the file piece by piece; nothing when it cannot be read (*error says why).
std::optional<CatalogueState> readCatalogueState(const std::string& path, std::string* error);

// The first line of a new text (version 2) checksum file, one entry and one covers line, each
// without its CR LF.
std::string sumsHeader(size_t linesBefore);
std::string sumsLine(const Digest& catalogueLine, const Digest& content, std::string_view fname);
std::string coversLine(std::string_view catalogue);
std::string coversLine(const CatalogueState& catalogue);
// Turns the first line of a version 1 file into that of version 2; nothing else changes.
std::optional<std::string> upgradedHeader(std::string_view firstLine);

// Writes what a session appends to a checksum file, in the form of the file it goes to.
class SumsWriter {
public:
    static constexpr int kCurrentVersion = 3;
    static constexpr size_t kStreamRecords = 128;

    explicit SumsWriter(int version = kCurrentVersion);
    ~SumsWriter();
    SumsWriter(SumsWriter&&) noexcept;
    SumsWriter& operator=(SumsWriter&&) noexcept;

    int version() const { return m_version; }
    // The bytes to append; the header only at the start of a new file.
    std::string header(size_t linesBefore) const;
    std::string entry(const Digest& catalogueLine, const Digest& content, std::string_view fname);
    std::string covers(std::string_view catalogue);
    std::string covers(const CatalogueState& catalogue);
    // What the last call returned was not kept: the next record must not depend on it.
    void restart() { m_records = 0; }

private:
    std::string frame(const std::string& record);

    struct Deflater;
    int m_version;
    std::unique_ptr<Deflater> m_deflater;
    size_t m_records = 0;  // in the current stream
};

// How a session appends to a checksum file that is there: in its version (text stays text,
// version 1 taking the current text header), after its whole records (the part of a frame that
// a crash cut off is dropped, or the session's frames would be read as part of it).
struct SumsAppend {
    int version = SumsWriter::kCurrentVersion;
    std::optional<std::string> replacement;  // the content to put in place first, if it changes
};
SumsAppend sumsAppendPlan(std::string_view content);
// The same plan for the file at path, read piece by piece: a compact file is read whole only
// when a frame was cut off. Nothing when it cannot be read (*error says why).
std::optional<SumsAppend> readSumsAppendPlan(const std::string& path, std::string* error);

struct Sums {
    struct Entry {
        Digest content{};
        std::string fname;  // "" in entries of version 1
    };
    struct Covers {
        size_t lines = 0;
        std::int64_t bytes = 0;
        Digest digest{};
    };
    size_t linesBefore = 0;
    // Entries by the catalogue line's digest (as raw bytes), and those digests in file order.
    std::unordered_map<std::string, Entry> byLine;
    std::vector<std::string> order;
    std::vector<Covers> covers;
    std::vector<size_t> skippedLines;  // damaged entries, numbered from 1

    const Digest* find(const Digest& catalogueLine) const;
};

// Nothing when the text is no checksum file (its first line is not a header of this version).
std::optional<Sums> parseSums(std::string_view content);

struct SumsVerdict;

// What a run holds of a checksum file: fixed records sorted by the catalogue line's digest
// (looked up by binary search) and the names in one arena, so that a file of a million entries
// costs tens of megabytes rather than a hash map of strings. Keep::Verdict keeps only what
// judgeSums needs (the line digests and the covers records): no content digest, no name.
// Keep::Wanted keeps that and the content digests of the wanted lines alone (a restore of a few
// files of a large catalogue); find() answers for those lines only.
class SumsIndex {
public:
    enum class Keep { All, Verdict, Wanted };
    explicit SumsIndex(Keep keep = Keep::All, std::vector<Digest> wanted = {});

    size_t linesBefore = 0;
    std::vector<Sums::Covers> covers;
    std::vector<size_t> skippedLines;  // damaged entries, numbered from 1

    // While reading, in file order; an entry for a line that has one already is ignored.
    void add(const Digest& catalogueLine, const Digest& content, std::string_view fname);
    // After the last add: sorts for lookups.
    void seal();

    Keep keep() const { return m_keep; }
    size_t size() const { return m_keys.size(); }
    // The content digest of the line's entry; nothing without one (or in Keep::Verdict).
    const Digest* find(const Digest& catalogueLine) const;

private:
    friend SumsVerdict judgeSums(const SumsIndex&, std::string_view, const std::vector<Digest>&);
    struct Key {
        Digest line;
        std::uint32_t at;  // the entry's place in file order
    };
    std::optional<size_t> indexOf(const Digest& catalogueLine) const;
    std::string_view nameAt(std::uint32_t at) const;

    struct Placed {
        std::uint32_t at;
        Digest content;
    };
    Keep m_keep;
    std::vector<Digest> m_wanted;          // sorted; Keep::Wanted, while reading
    std::vector<Placed> m_wantedContents;  // in file order; Keep::Wanted only
    std::vector<Key> m_keys;
    std::vector<Digest> m_contents;         // by place; Keep::All only
    std::vector<std::uint64_t> m_nameEnds;  // by place, into m_names; Keep::All only
    std::string m_names;
};

// A checksum file as read from disk.
struct SumsFile {
    enum class Status {
        Missing,  // there is none (a set of an older version, or from elsewhere)
        Read,
        Damaged,  // there is one, but it cannot be read or is no checksum file
    };
    Status status = Status::Missing;
    std::optional<SumsIndex> sums;
    std::string error;
};
// Reads the file piece by piece, never whole. wanted: the lines Keep::Wanted keeps (any order).
SumsFile ReadSums(const std::string& path, SumsIndex::Keep keep = SumsIndex::Keep::All,
                  std::vector<Digest> wanted = {});

// How one archived file can be checked.
enum class CheckKind {
    Strong,     // its digest is known
    Weak,       // no checksum file, or the line predates it or was not written with it: the crc
    Unmatched,  // the checksum file should hold the line but does not: the line is damaged
};

CheckKind checkKindFor(const Sums* sums, const Digest& catalogueLine, size_t lineIndex,
                       const Digest** expected);
CheckKind checkKindFor(const SumsIndex* sums, const Digest& catalogueLine, size_t lineIndex,
                       const Digest** expected);
// No checksum file at all.
inline CheckKind checkKindFor(std::nullptr_t, const Digest&, size_t, const Digest** expected) {
    *expected = nullptr;
    return CheckKind::Weak;
}

// What a checksum file says of the catalogue beside it.
struct SumsVerdict {
    // False: the file was written for another catalogue (one that another writer replaced);
    // it must be ignored, or it would refuse every line.
    bool belongs = true;
    // Entries no line of the catalogue matches: lines the catalogue lost (or damaged), named
    // where the entry names them, in the order they were written.
    std::vector<std::string> lostNames;
    size_t lost = 0;
};
// lineDigests: the digest of every line of the catalogue that could be read.
SumsVerdict judgeSums(const Sums& sums, std::string_view catalogue,
                      const std::vector<Digest>& lineDigests);
SumsVerdict judgeSums(const SumsIndex& sums, std::string_view catalogue,
                      const std::vector<Digest>& lineDigests);
// The lost files for a message: the first names, and how many more there are.
std::string lostFilesText(const SumsVerdict& verdict, size_t atMost = 10);

}  // namespace kestrel
