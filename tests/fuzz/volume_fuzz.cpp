// SPDX-License-Identifier: GPL-3.0-or-later
// A damaged volume: the input is the volume's bytes (the seeds are a plain and a gzip volume as
// the archive writes them). The files of the catalogue written with the seeds are read from it,
// and one more file whose numbers the input's last 16 bytes give.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/catalogue.h"
#include "archive/sums.h"
#include "archive/volume_reader.h"
#include "platform/scratch_dir.h"

namespace {

using namespace kestrel;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The catalogue and the checksums of the seeds' four files (700, 38, 0 and 1,500 bytes).
constexpr std::string_view kCatalogue =
    "dSession=20260105143012|RecSize=512|arcStart=Fuzz|sOffs=0|arcEnd=Fuzz|dEndOffset=1536|"
    "fname=/tmp/Documents/report.txt|size=700|crc=345F0F5D|Attrib=32|dCT=31295199/-887479042|"
    "dLAt=31295199/-887479042|dLWt=31295199/-887448052\r\n"
    "dSession=20260105143012|RecSize=512|arcStart=Fuzz|sOffs=1536|arcEnd=Fuzz|dEndOffset=2560|"
    "fname=/tmp/Documents/notes.txt|size=38|crc=54146B60|Attrib=32|dCT=31295199/-887448052|"
    "dLAt=31295199/-887448052|dLWt=31295199/-887448052\r\n"
    "dSession=20260105143012|RecSize=512|arcStart=Fuzz|sOffs=2560|arcEnd=Fuzz|dEndOffset=3072|"
    "fname=/tmp/Documents/empty|size=0|crc=00000000|Attrib=32|dCT=31295199/-887448052|"
    "dLAt=31295199/-887448052|dLWt=31295199/-887448052\r\n"
    "dSession=20260105143012|RecSize=512|arcStart=Fuzz|sOffs=3072|arcEnd=Fuzz|dEndOffset=5120|"
    "fname=/tmp/Documents/photo.bin|size=1500|crc=4C920737|Attrib=32|dCT=31295199/-887448052|"
    "dLAt=31295199/-887448052|dLWt=31295199/-887448052\r\n";
constexpr const char* kDigests[] = {
    "f4a2bb489184935db3edf277592fe2f7a5858a3271eb7d8c0a8eb9dd613283e1",
    "4beebab00dd7a85ef941329f0115ca9048445159ac230a74db77ae6a6cb8dbf9",
    "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8",
    "f27a9058471c2a12444c5e9e591ccca2ea52124ebbdb2c665dedf04414bdb3b1",
};

Digest fromHex(std::string_view hex) {
    Digest d{};
    for (size_t i = 0; i < d.size(); ++i) {
        d[i] =
            static_cast<unsigned char>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    }
    return d;
}

struct Job {
    clsRestoreFileData rec;
    std::optional<Digest> digest;
};

const std::vector<Job>& catalogueJobs() {
    static const std::vector<Job> jobs = [] {
        std::vector<Job> out;
        const Catalogue catalogue = parseCatalogue(kCatalogue);
        check(catalogue.records.size() == std::size(kDigests));
        for (size_t i = 0; i < catalogue.records.size(); ++i) {
            out.push_back({catalogue.records[i], fromHex(kDigests[i])});
        }
        return out;
    }();
    return jobs;
}

// Made once per process, removed with everything in it when the process ends.
const std::string& scratchFolder() {
    static const std::optional<ScratchDir> dir =
        ScratchDir::create(std::filesystem::temp_directory_path().string());
    check(dir.has_value());
    return dir->path();
}

std::uint64_t littleEndian(const std::uint8_t* p, size_t n) {
    std::uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    }
    return v;
}

// A file as a catalogue line may describe it, every number one a line can carry (0 to the
// largest 64-bit value): offset 6 bytes, size 5, block size 4, then one byte of choices.
Job inputJob(const std::uint8_t* tail) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    Job job;
    clsRestoreFileData& rec = job.rec;
    const std::uint8_t flags = tail[15];
    rec.arcStart = "Fuzz";
    rec.arcEnd = (flags & 1) ? "Fuzz-001" : (flags & 2) ? "Fuzz-002" : "Fuzz";
    rec.soffs = static_cast<std::int64_t>(littleEndian(tail, 6));
    rec.size = static_cast<std::int64_t>(littleEndian(tail + 6, 5));
    rec.recsize = static_cast<std::int64_t>(littleEndian(tail + 11, 4));
    if (flags & 4) {
        rec.soffs = kMax - rec.soffs;
    }
    if (flags & 8) {
        rec.size = kMax - rec.size;
    }
    if (flags & 16) {
        rec.recsize = kMax - rec.recsize;
    }
    rec.crc = (flags & 32) ? "00000000" : "";
    if (flags & 64) {
        job.digest = Digest{};
    }
    return job;
}

struct Outcome {
    ExtractStatus status;
    std::string volume;
    std::string bytes;
    bool operator==(const Outcome&) const = default;
};

Outcome extractOne(VolumeReader& reader, const Job& job) {
    Outcome out;
    const ExtractResult r = reader.extract(
        job.rec,
        [&](std::string_view bytes) {
            out.bytes.append(bytes);
            return true;
        },
        nullptr, job.digest ? &*job.digest : nullptr);
    out.status = r.status;
    out.volume = r.volume;
    // Never more than the file's bytes, and all of them when it was read.
    check(static_cast<std::int64_t>(out.bytes.size()) <= job.rec.size);
    check(r.status != ExtractStatus::Ok ||
          static_cast<std::int64_t>(out.bytes.size()) == job.rec.size);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = scratchFolder();
    // The file may go on in a second volume: it holds the same bytes.
    for (const char* name : {"/Fuzz.uxarc", "/Fuzz-001.uxarc"}) {
        std::ofstream out(folder + name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        check(out.good());
    }
    std::vector<Job> jobs = catalogueJobs();
    if (size >= 16) {
        jobs.push_back(inputJob(data + size - 16));
    }

    FolderVolumes volumes(folder);
    // Whether the volume is compressed is told by its first bytes, as for an unknown set.
    VolumeReader reader(nullptr, volumes, std::nullopt);
    std::vector<Outcome> forward;
    for (const Job& job : jobs) {
        forward.push_back(extractOne(reader, job));
    }
    // Read again backwards with the same reader: what a file reads as does not depend on what
    // was read before it.
    for (size_t i = jobs.size(); i-- > 0;) {
        check(extractOne(reader, jobs[i]) == forward[i]);
    }
    return 0;
}
