// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/meta.h"

#include "archive/catalogue.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kHeader = "KestrelMeta=1";

std::string rawKey(const Digest& d) {
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
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
bool readParts(const std::vector<std::string>& parts, PosixFacts* facts, std::string* target) {
    bool mode = false;
    bool uid = false;
    bool gid = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        const size_t eq = parts[i].find('=');
        if (eq == std::string::npos) {
            return false;
        }
        const std::string_view key = std::string_view(parts[i]).substr(0, eq);
        const std::string_view value = std::string_view(parts[i]).substr(eq + 1);
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

const PosixFacts* Meta::find(const Digest& catalogueLine) const {
    auto it = files.find(rawKey(catalogueLine));
    return it == files.end() ? nullptr : &it->second;
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

std::optional<Meta> parseMeta(std::string_view content) {
    Meta meta;
    bool header = false;
    text::LineReader lines(content);
    for (text::Line next; lines.next(next);) {
        const std::string_view line = next.text;
        if (!header) {
            if (line != kHeader) {
                return std::nullopt;
            }
            header = true;
            continue;
        }
        if (text::trimSpace(line).empty()) {
            continue;
        }
        // A cut line is no fact.
        bool ok = next.terminated;
        const std::vector<std::string> parts = text::split(line, '|');
        const std::string& first = parts.front();
        const size_t eq = first.find('=');
        const std::string key = eq == std::string::npos ? first : first.substr(0, eq);
        const std::string_view value =
            eq == std::string::npos ? std::string_view() : std::string_view(first).substr(eq + 1);
        if (ok && key == "session") {
            auto stamp = ParseSessionStamp(value);
            ok = stamp.has_value();
            if (ok) {
                meta.sessions.push_back(SessionFacts{*stamp, {}, {}});
            }
        } else if (ok && key == "file") {
            auto digest = parseDigestHex(value);
            PosixFacts facts;
            ok = digest && readParts(parts, &facts, nullptr);
            if (ok) {
                meta.files[rawKey(*digest)] = facts;
            }
        } else if (ok && (key == "dir" || key == "link") && !meta.sessions.empty()) {
            auto path = unescape(value);
            PosixFacts facts;
            std::string target;
            ok = path && !path->empty() &&
                 readParts(parts, &facts, key == "link" ? &target : nullptr);
            if (ok && key == "dir") {
                meta.sessions.back().folders.push_back(FolderFact{*path, facts});
            } else if (ok) {
                meta.sessions.back().links.push_back(LinkFact{*path, target, facts});
            }
        } else {
            ok = false;
        }
        if (!ok) {
            meta.skippedLines.push_back(next.number);
        }
    }
    if (!header) {
        return std::nullopt;
    }
    return meta;
}

MetaFile ReadMeta(const std::string& path) {
    MetaFile file;
    if (!fs::exists(path)) {
        return file;
    }
    auto content = fs::readFile(path, &file.error);
    if (content) {
        file.meta = parseMeta(*content);
        if (!file.meta) {
            file.error = path + " is not a facts file";
        }
    }
    file.status = file.meta ? MetaFile::Status::Read : MetaFile::Status::Damaged;
    return file;
}

}  // namespace kestrel
