#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
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
//   KestrelSums=1|linesBefore=N          first line
//   line=<64 hex>|b2=<64 hex>            one line per archived file, appended with its
//                                        catalogue line
//
// line is the BLAKE2b-256 digest of the file's catalogue line (without its line end), so that a
// damaged catalogue line (another name, offset or time) finds no entry; b2 is the BLAKE2b-256
// digest of the file's bytes. linesBefore counts the catalogue lines that were there before
// the checksum file was begun (a set written by an older version): those have no entry and are
// only checked by their crc. Lines end in CR LF like the catalogue's.
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

// The first line of a new checksum file and one entry, each without its CR LF.
std::string sumsHeader(size_t linesBefore);
std::string sumsLine(const Digest& catalogueLine, const Digest& content);

struct Sums {
    size_t linesBefore = 0;
    // Content digest by the catalogue line's digest (as raw bytes).
    std::unordered_map<std::string, Digest> byLine;
    std::vector<size_t> skippedLines;  // damaged entries, numbered from 1

    const Digest* find(const Digest& catalogueLine) const;
};

// Nothing when the text is no checksum file (its first line is not a header of this version).
std::optional<Sums> parseSums(std::string_view content);

// A checksum file as read from disk.
struct SumsFile {
    enum class Status {
        Missing,  // there is none (a set of an older version, or from elsewhere)
        Read,
        Damaged,  // there is one, but it cannot be read or is no checksum file
    };
    Status status = Status::Missing;
    std::optional<Sums> sums;
    std::string error;
};
SumsFile ReadSums(const std::string& path);

// How one archived file can be checked.
enum class CheckKind {
    Strong,     // its digest is known
    Weak,       // no checksum file, or the line predates it: the crc alone
    Unmatched,  // the checksum file should hold the line but does not: the line is damaged
};

CheckKind checkKindFor(const Sums* sums, const Digest& catalogueLine, size_t lineIndex,
                       const Digest** expected);

}  // namespace kestrel
