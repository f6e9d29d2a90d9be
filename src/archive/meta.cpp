// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/meta.h"

#include <algorithm>
#include <cstring>

#include "archive/catalogue.h"
#include "platform/file_handle.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kHeader = "KestrelMeta=1";

// The parts of a line between its "|"s, as views into it.
std::vector<std::string_view> splitParts(std::string_view line) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t bar = line.find('|');
        parts.push_back(line.substr(0, bar));
        if (bar == std::string_view::npos) {
            return parts;
        }
        line.remove_prefix(bar + 1);
    }
}

std::string escape(std::string_view in) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : in) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f || c == '%' || c == '|') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) {
            return std::nullopt;
        }
        int value = 0;
        for (const char c : in.substr(i + 1, 2)) {
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
            if (d < 0) {
                return std::nullopt;
            }
            value = value * 16 + d;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::string factsText(const PosixFacts& f) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", f.mode & 07777);
    return std::string("|mode=") + mode + "|uid=" + std::to_string(f.uid) +
           "|gid=" + std::to_string(f.gid);
}

// "key=value" parts of a line after its first part; false when one is damaged.
bool readParts(const std::vector<std::string_view>& parts, PosixFacts* facts, std::string* target) {
    bool mode = false;
    bool uid = false;
    bool gid = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        const size_t eq = parts[i].find('=');
        if (eq == std::string_view::npos) {
            return false;
        }
        const std::string_view key = parts[i].substr(0, eq);
        const std::string_view value = parts[i].substr(eq + 1);
        if (key == "to" && target != nullptr) {
            auto t = unescape(value);
            if (!t || t->empty()) {
                return false;
            }
            *target = *t;
            continue;
        }
        std::uint32_t number = 0;
        const int base = key == "mode" ? 8 : 10;
        if (value.empty() || value.size() > 11) {
            return false;
        }
        std::uint64_t n = 0;
        for (const char c : value) {
            if (c < '0' || c >= '0' + base) {
                return false;
            }
            n = n * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(c - '0');
        }
        if (n > 0xffffffffu) {
            return false;
        }
        number = static_cast<std::uint32_t>(n);
        if (key == "mode" && number <= 07777) {
            facts->mode = number;
            mode = true;
        } else if (key == "uid") {
            facts->uid = number;
            uid = true;
        } else if (key == "gid") {
            facts->gid = number;
            gid = true;
        } else {
            return false;
        }
    }
    return (mode || target != nullptr) && uid && gid && (target == nullptr || !target->empty());
}

}  // namespace

void Meta::addFile(const Digest& catalogueLine, const PosixFacts& facts) {
    m_files.push_back(File{catalogueLine, facts});
}

void Meta::seal() {
    auto before = [](const File& a, const File& b) {
        return std::memcmp(a.line.data(), b.line.data(), a.line.size()) < 0;
    };
    std::stable_sort(m_files.begin(), m_files.end(), before);
    // Of the facts of one line the last recorded count.
    size_t kept = 0;
    for (size_t i = 0; i < m_files.size(); ++i) {
        if (i + 1 < m_files.size() && m_files[i + 1].line == m_files[i].line) {
            continue;
        }
        m_files[kept++] = m_files[i];
    }
    m_files.resize(kept);
    m_files.shrink_to_fit();
}

const PosixFacts* Meta::find(const Digest& catalogueLine) const {
    auto it = std::lower_bound(m_files.begin(), m_files.end(), catalogueLine,
                               [](const File& f, const Digest& d) {
                                   return std::memcmp(f.line.data(), d.data(), d.size()) < 0;
                               });
    return it == m_files.end() || it->line != catalogueLine ? nullptr : &it->facts;
}

std::string metaHeader() {
    return std::string(kHeader);
}

std::string metaSessionLine(const DateTime& session) {
    return "session=" + session.format("yyyyMMddHHmmss");
}

std::string metaFileLine(const Digest& catalogueLine, const PosixFacts& facts) {
    return "file=" + digestHex(catalogueLine) + factsText(facts);
}

std::string metaFolderLine(const FolderFact& folder) {
    return "dir=" + escape(folder.path) + factsText(folder.facts);
}

std::string metaLinkLine(const LinkFact& link) {
    return "link=" + escape(link.path) + "|to=" + escape(link.target) +
           "|uid=" + std::to_string(link.facts.uid) + "|gid=" + std::to_string(link.facts.gid);
}

namespace {

// Takes a facts file line by line; false for a first line that is not the header.
class MetaLines {
public:
    MetaLines(Meta& meta, bool withFiles, std::optional<std::vector<Digest>> only = std::nullopt)
        : m_meta(meta), m_withFiles(withFiles), m_only(std::move(only)) {
        if (m_only) {
            std::sort(m_only->begin(), m_only->end());
        }
    }
    bool header() const { return m_header; }

    bool take(const text::Line& next) {
        const std::string_view line = next.text;
        if (!m_header) {
            m_header = line == kHeader;
            return m_header;
        }
        if (text::trimSpace(line).empty()) {
            return true;
        }
        // A cut line is no fact.
        bool ok = next.terminated;
        const std::vector<std::string_view> parts = splitParts(line);
        const std::string_view first = parts.front();
        const size_t eq = first.find('=');
        const std::string_view key = first.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : first.substr(eq + 1);
        if (ok && key == "session") {
            auto stamp = ParseSessionStamp(value);
            ok = stamp.has_value();
            if (ok) {
                m_meta.sessions.push_back(SessionFacts{*stamp, {}, {}});
            }
        } else if (ok && key == "file") {
            auto digest = parseDigestHex(value);
            PosixFacts facts;
            ok = digest && readParts(parts, &facts, nullptr);
            if (ok && m_withFiles &&
                (!m_only || std::binary_search(m_only->begin(), m_only->end(), *digest))) {
                m_meta.addFile(*digest, facts);
            }
        } else if (ok && (key == "dir" || key == "link") && !m_meta.sessions.empty()) {
            auto path = unescape(value);
            PosixFacts facts;
            std::string target;
            ok = path && !path->empty() &&
                 readParts(parts, &facts, key == "link" ? &target : nullptr);
            if (ok && key == "dir") {
                m_meta.sessions.back().folders.push_back(FolderFact{*path, facts});
            } else if (ok) {
                m_meta.sessions.back().links.push_back(LinkFact{*path, target, facts});
            }
        } else {
            ok = false;
        }
        if (!ok) {
            m_meta.skippedLines.push_back(next.number);
        }
        return true;
    }

private:
    Meta& m_meta;
    bool m_withFiles;
    std::optional<std::vector<Digest>> m_only;
    bool m_header = false;
};

}  // namespace

std::optional<Meta> parseMeta(std::string_view content) {
    Meta meta;
    MetaLines taker(meta, true);
    text::LineReader lines(content);
    for (text::Line next; lines.next(next);) {
        if (!taker.take(next)) {
            return std::nullopt;
        }
    }
    if (!taker.header()) {
        return std::nullopt;
    }
    meta.seal();
    return meta;
}

MetaFile ReadMeta(const std::string& path, bool withFiles,
                  std::optional<std::vector<Digest>> only) {
    MetaFile file;
    if (!fs::exists(path)) {
        return file;
    }
    Meta meta;
    MetaLines taker(meta, withFiles, std::move(only));
    FileHandle handle;
    bool read = handle.open(path, FileHandle::Mode::Read, false, &file.error);
    bool isMeta = true;
    if (read && !handle.readLines([&](const text::Line& line) {
            isMeta = taker.take(line);
            return isMeta;
        })) {
        file.error = handle.status().text();
        read = false;
    }
    if (read) {
        if (isMeta && taker.header()) {
            meta.seal();
            file.meta = std::move(meta);
        } else {
            file.error = path + " is not a facts file";
        }
    }
    file.status = file.meta ? MetaFile::Status::Read : MetaFile::Status::Damaged;
    return file;
}

}  // namespace kestrel
