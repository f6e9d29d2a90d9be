// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/catalogue.h"

#include <limits>

#include "archive/format.h"
#include "platform/file_handle.h"
#include "platform/text.h"

namespace kestrel {
namespace {

std::optional<std::int64_t> parseNumber(std::string_view value) {
    auto n = text::parseInt(value);
    if (!n || *n < 0) {
        return std::nullopt;
    }
    return n;
}

// Every key a writer puts on a line, in its order.
constexpr const char* kKeys[] = {"dsession",   "recsize", "arcstart", "soffs", "arcend",
                                 "dendoffset", "fname",   "size",     "crc",   "attrib",
                                 "dct",        "dlat",    "dlwt"};
constexpr unsigned kAllKeys = (1u << std::size(kKeys)) - 1;

void noteKey(std::string_view key, unsigned* seen) {
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        if (key == kKeys[i]) {
            *seen |= 1u << i;
        }
    }
}

// Applies one "key=value" part; false when it is damaged.
bool applyPart(clsRestoreFileData& rec, std::string_view part, unsigned* seen) {
    const size_t eq = part.find('=');
    if (eq == std::string_view::npos) {
        return false;
    }
    // Every key a writer puts is short: a longer one is none of them and is ignored. Lowered in
    // place, as this runs for every part of every line of a large catalogue.
    char lowered[16];
    if (eq > sizeof lowered) {
        return true;
    }
    for (size_t i = 0; i < eq; ++i) {
        const char c = part[i];
        lowered[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(lowered, eq);
    noteKey(key, seen);
    const std::string_view value = part.substr(eq + 1);
    auto number = [&](std::int64_t& field) {
        auto n = parseNumber(value);
        if (n) {
            field = *n;
        }
        return n.has_value();
    };
    auto time = [&](FileTime& field) {
        auto t = ParseTimePair(value);
        if (t) {
            field = *t;
        }
        return t.has_value();
    };
    if (key == "arcstart") {
        rec.arcStart = std::string(value);
    } else if (key == "arcend") {
        rec.arcEnd = std::string(value);
    } else if (key == "fname") {
        rec.fname = std::string(value);
    } else if (key == "crc") {
        rec.crc = std::string(value);
    } else if (key == "size") {
        return number(rec.size);
    } else if (key == "soffs") {
        return number(rec.soffs);
    } else if (key == "dendoffset") {
        return number(rec.dendoffset);
    } else if (key == "recsize") {
        return number(rec.recsize);
    } else if (key == "attrib") {
        return number(rec.Attrib);
    } else if (key == "dct") {
        return time(rec.creationTime);
    } else if (key == "dlat") {
        return time(rec.lastAccessTime);
    } else if (key == "dlwt") {
        return time(rec.lastWriteTime);
    } else if (key == "dsession") {
        auto stamp = ParseSessionStamp(value);
        if (stamp) {
            rec.dSession = *stamp;
        }
        return stamp.has_value();
    }
    return true;
}

bool applyParts(clsRestoreFileData& rec, std::string_view text, unsigned* seen) {
    if (text.empty()) {
        return true;
    }
    for (;;) {
        const size_t bar = text.find('|');
        if (!applyPart(rec, text.substr(0, bar), seen)) {
            return false;
        }
        if (bar == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(bar + 1);
    }
}

}  // namespace

std::optional<FileTime> ParseTimePair(std::string_view value) {
    const size_t slash = value.find('/');
    if (slash == std::string_view::npos) {
        return FileTime{};
    }
    auto high = text::parseInt(value.substr(0, slash));
    auto low = text::parseInt(value.substr(slash + 1));
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (!high || !low || *high < kMin || *high > kMax || *low < kMin || *low > kMax) {
        return std::nullopt;
    }
    return FileTime{static_cast<std::int32_t>(*high), static_cast<std::int32_t>(*low)};
}

std::optional<DateTime> ParseSessionStamp(std::string_view value) {
    if (value.size() != 14 || value.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    auto part = [&](size_t pos, size_t len) {
        return static_cast<int>(text::leadingInt(value.substr(pos, len)));
    };
    int year = part(0, 4);
    int month = part(4, 2);
    // Month 0 or 13 roll into the neighbouring year, days and times into the following units.
    const int monthIndex = month - 1;
    year += monthIndex >= 0 ? monthIndex / 12 : (monthIndex - 11) / 12;
    month = ((monthIndex % 12) + 12) % 12 + 1;
    auto first = DateTime::fromParts(year < 1 ? 1 : year, month, 1);
    if (!first) {
        return std::nullopt;
    }
    return first->addDays(part(6, 2) - 1)
        .addSeconds(static_cast<std::int64_t>(part(8, 2)) * 3600 + part(10, 2) * 60 + part(12, 2));
}

std::optional<clsRestoreFileData> ParseCatalogueLine(std::string_view line, bool* complete) {
    clsRestoreFileData rec;
    unsigned seen = 0;
    const size_t fnameAt = line.find("|fname=");
    const size_t sizeAt = line.rfind("|size=");
    if (fnameAt != std::string_view::npos && sizeAt != std::string_view::npos && sizeAt > fnameAt) {
        rec.fname = std::string(line.substr(fnameAt + 7, sizeAt - fnameAt - 7));
        noteKey("fname", &seen);
        if (!applyParts(rec, line.substr(0, fnameAt), &seen) ||
            !applyParts(rec, line.substr(sizeAt + 1), &seen)) {
            return std::nullopt;
        }
    } else if (!applyParts(rec, line, &seen)) {
        return std::nullopt;
    }
    if (complete != nullptr) {
        *complete = seen == kAllKeys;
    }
    return rec;
}

bool plausibleRecord(const clsRestoreFileData& rec) {
    if (rec.fname.empty() || rec.arcStart.empty() || rec.arcEnd.empty() || rec.crc.size() != 8 ||
        rec.recsize <= 0 || rec.recsize % 4 != 0) {
        return false;
    }
    if (rec.size < 0 || rec.soffs < 0 || rec.dendoffset < 0) {
        return false;
    }
    // Within one volume the blocks and the descriptor lie between the two offsets exactly.
    // Compared by division: a damaged line's numbers may be near the largest ones.
    if (rec.arcStart == rec.arcEnd) {
        const std::int64_t blocks = rec.size / rec.recsize + (rec.size % rec.recsize != 0 ? 1 : 0);
        const std::int64_t span = rec.dendoffset - rec.soffs;
        if (span < 0 || span % rec.recsize != 0 || span / rec.recsize != blocks + 1) {
            return false;
        }
    }
    return true;
}

namespace {

// Takes one line of a catalogue: a record to hand on, or a damaged line to note.
class LineTaker {
public:
    explicit LineTaker(const CatalogueVisitor& visit) : m_visit(visit) {}

    void take(const text::Line& next) {
        m_scan.cutShort = !next.terminated;
        const std::string_view line = next.text;
        if (text::trimSpace(line).empty()) {
            return;
        }
        const size_t index = m_scan.lines++;
        // A line cut short (by a crash, or by damage that put a line end into it) lacks fields
        // a writer always puts; one whose numbers do not fit together was changed. Neither
        // yields a file, and a piece of an encrypted or foreign file names none.
        bool complete = false;
        auto rec = ParseCatalogueLine(line, &complete);
        if (!next.terminated || !rec || !complete || !plausibleRecord(*rec)) {
            m_scan.skippedLines.push_back(next.number);
            return;
        }
        rec->lineDigest = digestOf(line);
        rec->lineIndex = index;
        m_visit(std::move(*rec));
    }
    CatalogueScan done() { return std::move(m_scan); }

private:
    const CatalogueVisitor& m_visit;
    CatalogueScan m_scan;
};

}  // namespace

Catalogue parseCatalogue(std::string_view content) {
    Catalogue catalogue;
    const CatalogueVisitor keep = [&](clsRestoreFileData&& rec) {
        catalogue.records.push_back(std::move(rec));
    };
    LineTaker taker(keep);
    text::LineReader lines(content);
    for (text::Line next; lines.next(next);) {
        taker.take(next);
    }
    catalogue.skippedLines = taker.done().skippedLines;
    return catalogue;
}

std::optional<CatalogueScan> scanCatalogue(const std::string& path, const CatalogueVisitor& visit,
                                           std::string* error) {
    FileHandle file;
    if (!file.open(path, FileHandle::Mode::Read, true, error)) {
        return std::nullopt;
    }
    LineTaker taker(visit);
    if (!file.readLines([&](const text::Line& line) {
            taker.take(line);
            return true;
        })) {
        if (error != nullptr) {
            *error = file.status().text();
        }
        return std::nullopt;
    }
    return taker.done();
}

size_t countCatalogueLines(std::string_view content) {
    size_t count = 0;
    text::LineReader lines(content);
    for (text::Line line; lines.next(line);) {
        if (!text::trimSpace(line.text).empty()) {
            ++count;
        }
    }
    return count;
}

std::optional<Catalogue> ReadCatalogue(const std::string& path, std::string* error) {
    Catalogue catalogue;
    auto scan = scanCatalogue(
        path, [&](clsRestoreFileData&& rec) { catalogue.records.push_back(std::move(rec)); },
        error);
    if (!scan) {
        return std::nullopt;
    }
    catalogue.skippedLines = std::move(scan->skippedLines);
    return catalogue;
}

}  // namespace kestrel
