// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/sums.h"

#include <unordered_set>

#include "archive/catalogue.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kHeaderKey = "KestrelSums=2|linesBefore=";
constexpr std::string_view kHeaderKeyV1 = "KestrelSums=1|linesBefore=";
constexpr std::string_view kEntryName = "|fname=";
constexpr size_t kEntrySize = 5 + 64 + 4 + 64;  // line=<64>|b2=<64>

std::string rawKey(const Digest& d) {
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// covers=<lines>|bytes=<n>|cat=<64 hex>
std::optional<Sums::Covers> parseCovers(std::string_view line) {
    const std::vector<std::string> parts = text::split(line, '|');
    if (parts.size() != 3 || !text::startsWith(parts[0], "covers=") ||
        !text::startsWith(parts[1], "bytes=") || !text::startsWith(parts[2], "cat=")) {
        return std::nullopt;
    }
    auto lines = text::parseInt(std::string_view(parts[0]).substr(7));
    auto bytes = text::parseInt(std::string_view(parts[1]).substr(6));
    auto digest = parseDigestHex(std::string_view(parts[2]).substr(4));
    if (!lines || !bytes || !digest || *lines < 0 || *bytes < 0) {
        return std::nullopt;
    }
    return Sums::Covers{static_cast<size_t>(*lines), *bytes, *digest};
}

}  // namespace

ContentDigest::ContentDigest() {
    // Picks the fastest BLAKE2b code for this processor; cheap after the first call.
    [[maybe_unused]] static const int ready = sodium_init();
    crypto_generichash_init(&m_state, nullptr, 0, crypto_generichash_BYTES);
}

void ContentDigest::update(std::string_view bytes) {
    crypto_generichash_update(&m_state, reinterpret_cast<const unsigned char*>(bytes.data()),
                              bytes.size());
}

Digest ContentDigest::final() {
    Digest d{};
    crypto_generichash_final(&m_state, d.data(), d.size());
    return d;
}

ParallelDigest::~ParallelDigest() {
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
}

void ParallelDigest::begin() {
    std::unique_lock<std::mutex> lock(m_mutex);
    waitIdle(lock);
    m_digest = ContentDigest();
    m_filling.clear();
}

void ParallelDigest::update(std::string_view bytes) {
    m_filling.append(bytes);
    if (m_filling.size() >= kPiece) {
        handOver();
    }
}

void ParallelDigest::waitIdle(std::unique_lock<std::mutex>& lock) {
    m_changed.wait(lock, [this] { return !m_busy; });
}

void ParallelDigest::handOver() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitIdle(lock);
        m_filling.swap(m_handed);
        m_busy = true;
    }
    m_changed.notify_all();
    m_filling.clear();
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { work(); });
    }
}

Digest ParallelDigest::final() {
    std::unique_lock<std::mutex> lock(m_mutex);
    waitIdle(lock);
    // The worker is idle: the digest is the caller's again.
    m_digest.update(m_filling);
    m_filling.clear();
    return m_digest.final();
}

void ParallelDigest::work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_busy || m_stop; });
        if (!m_busy) {
            return;
        }
        lock.unlock();
        m_digest.update(m_handed);
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}

Digest digestOf(std::string_view bytes) {
    ContentDigest d;
    d.update(bytes);
    return d.final();
}

std::string digestHex(const Digest& d) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(d.size() * 2);
    for (unsigned char b : d) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::optional<Digest> parseDigestHex(std::string_view hex) {
    Digest d{};
    if (hex.size() != d.size() * 2) {
        return std::nullopt;
    }
    for (size_t i = 0; i < d.size(); ++i) {
        const int high = hexValue(hex[2 * i]);
        const int low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        d[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return d;
}

std::string sumsHeader(size_t linesBefore) {
    return std::string(kHeaderKey) + std::to_string(linesBefore);
}

std::string sumsLine(const Digest& catalogueLine, const Digest& content, std::string_view fname) {
    return "line=" + digestHex(catalogueLine) + "|b2=" + digestHex(content) +
           std::string(kEntryName) + std::string(fname);
}

std::string coversLine(std::string_view catalogue) {
    return "covers=" + std::to_string(countCatalogueLines(catalogue)) +
           "|bytes=" + std::to_string(catalogue.size()) + "|cat=" + digestHex(digestOf(catalogue));
}

std::optional<std::string> upgradedHeader(std::string_view firstLine) {
    if (!text::startsWith(firstLine, kHeaderKeyV1)) {
        return std::nullopt;
    }
    return std::string(kHeaderKey) + std::string(firstLine.substr(kHeaderKeyV1.size()));
}

const Digest* Sums::find(const Digest& catalogueLine) const {
    auto it = byLine.find(rawKey(catalogueLine));
    return it == byLine.end() ? nullptr : &it->second.content;
}

std::optional<Sums> parseSums(std::string_view content) {
    Sums sums;
    bool header = false;
    text::LineReader lines(content);
    for (text::Line next; lines.next(next);) {
        const std::string_view line = next.text;
        const bool terminated = next.terminated;
        if (!header) {
            if (!text::startsWith(line, kHeaderKey) && !text::startsWith(line, kHeaderKeyV1)) {
                return std::nullopt;
            }
            auto n = text::parseInt(line.substr(kHeaderKey.size()));
            if (!n || *n < 0) {
                return std::nullopt;
            }
            sums.linesBefore = static_cast<size_t>(*n);
            header = true;
            continue;
        }
        if (text::trimSpace(line).empty()) {
            continue;
        }
        // A cut or changed entry is no entry.
        if (terminated && text::startsWith(line, "covers=")) {
            if (auto covers = parseCovers(line)) {
                sums.covers.push_back(*covers);
                continue;
            }
        }
        std::optional<Digest> key;
        std::optional<Digest> value;
        if (terminated && line.size() >= kEntrySize && text::startsWith(line, "line=") &&
            line.substr(69, 4) == "|b2=" &&
            (line.size() == kEntrySize ||
             line.substr(kEntrySize, kEntryName.size()) == kEntryName)) {
            key = parseDigestHex(line.substr(5, 64));
            value = parseDigestHex(line.substr(73, 64));
        }
        if (!key || !value) {
            sums.skippedLines.push_back(next.number);
            continue;
        }
        const std::string raw = rawKey(*key);
        Sums::Entry entry{*value, line.size() > kEntrySize
                                      ? std::string(line.substr(kEntrySize + kEntryName.size()))
                                      : std::string()};
        if (sums.byLine.emplace(raw, std::move(entry)).second) {
            sums.order.push_back(raw);
        }
    }
    if (!header) {
        return std::nullopt;
    }
    return sums;
}

SumsFile ReadSums(const std::string& path) {
    SumsFile file;
    if (!fs::exists(path)) {
        return file;
    }
    auto content = fs::readFile(path, &file.error);
    if (content) {
        file.sums = parseSums(*content);
        if (!file.sums) {
            file.error = path + " is not a checksum file";
        }
    }
    file.status = file.sums ? SumsFile::Status::Read : SumsFile::Status::Damaged;
    return file;
}

CheckKind checkKindFor(const Sums* sums, const Digest& catalogueLine, size_t lineIndex,
                       const Digest** expected) {
    *expected = nullptr;
    if (sums == nullptr) {
        return CheckKind::Weak;
    }
    if (const Digest* d = sums->find(catalogueLine)) {
        *expected = d;
        return CheckKind::Strong;
    }
    // Lines past what the last session's covers line counts were appended by another writer.
    const bool uncovered = !sums->covers.empty() && lineIndex >= sums->covers.back().lines;
    return lineIndex < sums->linesBefore || uncovered ? CheckKind::Weak : CheckKind::Unmatched;
}

SumsVerdict judgeSums(const Sums& sums, std::string_view catalogue,
                      const std::vector<Digest>& lineDigests) {
    SumsVerdict verdict;
    std::unordered_set<std::string> present;
    for (const Digest& d : lineDigests) {
        present.insert(rawKey(d));
    }
    bool anyLine = false;
    for (const std::string& raw : sums.order) {
        if (present.count(raw) != 0) {
            anyLine = true;
        }
    }
    bool anyCovers = false;
    for (const Sums::Covers& c : sums.covers) {
        if (c.bytes >= 0 && static_cast<size_t>(c.bytes) <= catalogue.size() &&
            digestOf(catalogue.substr(0, static_cast<size_t>(c.bytes))) == c.digest) {
            anyCovers = true;
        }
    }
    // A file with entries of which the catalogue has not one of its lines, and no state of the
    // catalogue it recorded, was written beside another catalogue. One that lost every line
    // is still this file's.
    if (!sums.order.empty() && !anyLine && !anyCovers && !lineDigests.empty()) {
        verdict.belongs = false;
        return verdict;
    }
    for (const std::string& raw : sums.order) {
        if (present.count(raw) == 0) {
            ++verdict.lost;
            verdict.lostNames.push_back(sums.byLine.at(raw).fname);
        }
    }
    return verdict;
}

std::string lostFilesText(const SumsVerdict& verdict, size_t atMost) {
    std::string out;
    size_t shown = 0;
    for (const std::string& name : verdict.lostNames) {
        if (shown == atMost) {
            break;
        }
        out += (shown++ == 0 ? "" : ", ") +
               (name.empty() ? std::string("(a file of an older version, unnamed)") : name);
    }
    if (verdict.lost > shown) {
        out += " and " + std::to_string(verdict.lost - shown) + " more";
    }
    return out;
}

}  // namespace kestrel
