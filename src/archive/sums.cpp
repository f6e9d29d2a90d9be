// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/sums.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "archive/catalogue.h"
#include "platform/file_handle.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kHeaderKey = "KestrelSums=2|linesBefore=";
constexpr std::string_view kHeaderKeyV1 = "KestrelSums=1|linesBefore=";
constexpr std::string_view kHeaderKeyV3 = "KestrelSums=3|linesBefore=";
// What a sync flush ends with; left off in the file and put back to inflate.
constexpr std::string_view kFlushTail("\0\0\xff\xff", 4);
// A record is a few dozen bytes and a name: anything far larger is damage.
constexpr size_t kMaxRecord = 1 << 16;
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

void putVarint(std::string& out, std::uint64_t v) {
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

bool getVarint(std::string_view in, size_t& pos, std::uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64 && pos < in.size(); shift += 7) {
        const auto b = static_cast<unsigned char>(in[pos++]);
        v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
        if ((b & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

std::uint32_t crcOf(std::string_view bytes) {
    return static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

void putDigest(std::string& out, const Digest& d) {
    out.append(reinterpret_cast<const char*>(d.data()), d.size());
}

Digest takeDigest(std::string_view in, size_t pos) {
    Digest d{};
    std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(pos), d.size(), d.begin());
    return d;
}

// Where the frame at pos ends, nothing when it is cut off or no frame begins there.
struct Frame {
    char kind = 0;
    std::uint32_t crc = 0;
    std::string_view payload;
    size_t end = 0;
};
std::optional<Frame> frameAt(std::string_view body, size_t pos) {
    Frame f;
    f.kind = body[pos++];
    std::uint64_t length = 0;
    if ((f.kind != 'S' && f.kind != 'C') || !getVarint(body, pos, length) ||
        body.size() - pos < 4 || length > body.size() - pos - 4) {
        return std::nullopt;
    }
    for (int i = 0; i < 4; ++i) {
        f.crc |= static_cast<std::uint32_t>(static_cast<unsigned char>(body[pos + i])) << (8 * i);
    }
    f.payload = body.substr(pos + 4, length);
    f.end = pos + 4 + length;
    return f;
}

// A raw inflate stream over the frames of one deflate stream.
class Inflater {
public:
    Inflater() { m_ok = ::inflateInit2(&m_z, -15) == Z_OK; }
    ~Inflater() {
        if (m_ok) {
            ::inflateEnd(&m_z);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    void reset() { m_ok = m_ok && ::inflateReset(&m_z) == Z_OK; }
    // The bytes the payload completes; false when it does not continue the stream.
    bool inflate(std::string_view payload, std::string& out) {
        m_in.assign(payload);
        m_in.append(kFlushTail);
        m_z.next_in = reinterpret_cast<Bytef*>(m_in.data());
        m_z.avail_in = static_cast<uInt>(m_in.size());
        char buffer[4096];
        while (m_ok) {
            m_z.next_out = reinterpret_cast<Bytef*>(buffer);
            m_z.avail_out = sizeof buffer;
            const int rc = ::inflate(&m_z, Z_SYNC_FLUSH);
            out.append(buffer, sizeof buffer - m_z.avail_out);
            if ((rc != Z_OK && rc != Z_BUF_ERROR) || out.size() > kMaxRecord) {
                return false;
            }
            if (m_z.avail_in == 0 && m_z.avail_out != 0) {
                return true;
            }
        }
        return false;
    }

private:
    z_stream m_z{};
    bool m_ok = false;
    std::string m_in;
};

// Receives what a checksum file holds, in file order.
class SumsSink {
public:
    virtual void setLinesBefore(size_t n) = 0;
    virtual void entry(const Digest& catalogueLine, const Digest& content,
                       std::string_view fname) = 0;
    virtual void covers(const Sums::Covers& c) = 0;
    virtual void skipped(size_t number) = 0;

protected:
    ~SumsSink() = default;
};

bool addRecord(std::string_view record, SumsSink& sink) {
    size_t pos = 1;
    if (record.size() > 2 * sizeof(Digest) && record[0] == 'E') {
        std::uint64_t nameSize = 0;
        pos += 2 * sizeof(Digest);
        if (!getVarint(record, pos, nameSize) || nameSize != record.size() - pos) {
            return false;
        }
        sink.entry(takeDigest(record, 1), takeDigest(record, 1 + sizeof(Digest)),
                   record.substr(pos));
        return true;
    }
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    if (record.empty() || record[0] != 'V' || !getVarint(record, pos, lines) ||
        !getVarint(record, pos, bytes) || record.size() - pos != sizeof(Digest) ||
        bytes > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    sink.covers(Sums::Covers{static_cast<size_t>(lines), static_cast<std::int64_t>(bytes),
                             takeDigest(record, pos)});
    return true;
}

// Reads a checksum file fed in pieces of any size; only an unfinished line or frame is held.
class SumsParser {
public:
    explicit SumsParser(SumsSink& sink) : m_sink(sink) {}

    void feed(std::string_view piece) {
        if (m_state != State::Stopped && m_state != State::NotSums) {
            m_pending.append(piece);
            process(false);
        }
    }
    // False when it is no checksum file.
    bool finish() {
        process(true);
        return m_state != State::NotSums;
    }

private:
    enum class State { Start, Text, Framed, Stopped, NotSums };

    void process(bool atEnd) {
        const std::string_view data(m_pending);
        size_t pos = 0;
        if (m_state == State::Start) {
            if (data.size() < kHeaderKeyV3.size() && !atEnd) {
                return;
            }
            m_state = State::Text;
            if (text::startsWith(data, kHeaderKeyV3)) {
                const size_t eol = data.find("\r\n");
                if (eol == std::string_view::npos && !atEnd) {
                    m_state = State::Start;
                    return;
                }
                auto n =
                    text::parseInt(data.substr(kHeaderKeyV3.size(), eol - kHeaderKeyV3.size()));
                if (!n || *n < 0) {
                    stop(State::NotSums);
                    return;
                }
                m_sink.setLinesBefore(static_cast<size_t>(*n));
                m_state = State::Framed;
                m_number = 1;
                pos = eol == std::string_view::npos ? data.size() : eol + 2;
            }
        }
        if (m_state == State::Text) {
            for (;;) {
                const size_t end = data.find('\n', pos);
                if (end == std::string_view::npos && !(atEnd && pos < data.size())) {
                    break;
                }
                const bool terminated = end != std::string_view::npos;
                std::string_view line = data.substr(pos, terminated ? end - pos : data.size());
                pos = terminated ? end + 1 : data.size();
                if (!line.empty() && line.back() == '\r') {
                    line.remove_suffix(1);
                }
                if (!textLine(line, terminated)) {
                    stop(State::NotSums);
                    return;
                }
            }
            if (atEnd && !m_header) {
                stop(State::NotSums);
                return;
            }
        }
        if (m_state == State::Framed) {
            while (pos < data.size()) {
                const std::optional<Frame> f = frameAt(data, pos);
                if (!f) {
                    if (!atEnd && (data[pos] == 'S' || data[pos] == 'C')) {
                        break;  // its rest is in the next piece
                    }
                    // Cut, or the framing itself is damaged: nothing after it can be found.
                    m_sink.skipped(++m_number);
                    stop(State::Stopped);
                    return;
                }
                pos = f->end;
                frame(*f);
            }
        }
        m_pending.erase(0, pos);
    }

    void stop(State state) {
        m_state = state;
        m_pending = {};
    }

    // False for a first line that is no header.
    bool textLine(std::string_view line, bool terminated) {
        ++m_number;
        if (!m_header) {
            if (!text::startsWith(line, kHeaderKey) && !text::startsWith(line, kHeaderKeyV1)) {
                return false;
            }
            auto n = text::parseInt(line.substr(kHeaderKey.size()));
            if (!n || *n < 0) {
                return false;
            }
            m_sink.setLinesBefore(static_cast<size_t>(*n));
            m_header = true;
            return true;
        }
        if (text::trimSpace(line).empty()) {
            return true;
        }
        // A cut or changed entry is no entry.
        if (terminated && text::startsWith(line, "covers=")) {
            if (auto covers = parseCovers(line)) {
                m_sink.covers(*covers);
                return true;
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
            m_sink.skipped(m_number);
            return true;
        }
        m_sink.entry(*key, *value,
                     line.size() > kEntrySize ? line.substr(kEntrySize + kEntryName.size())
                                              : std::string_view());
        return true;
    }

    void frame(const Frame& f) {
        ++m_number;
        if (crcOf(f.payload) != f.crc) {
            m_streamOk = false;
            m_sink.skipped(m_number);
            return;
        }
        if (f.kind == 'S') {
            m_inflater.reset();
            m_streamOk = true;
        }
        m_record.clear();
        if (!m_streamOk || !m_inflater.inflate(f.payload, m_record)) {
            m_streamOk = false;
            m_sink.skipped(m_number);
            return;
        }
        if (!addRecord(m_record, m_sink)) {
            m_sink.skipped(m_number);
        }
    }

    SumsSink& m_sink;
    State m_state = State::Start;
    std::string m_pending;
    size_t m_number = 0;  // of the last line or frame
    bool m_header = false;
    Inflater m_inflater;
    bool m_streamOk = false;
    std::string m_record;
};

class SumsBuilder final : public SumsSink {
public:
    explicit SumsBuilder(Sums& sums) : m_sums(sums) {}
    void setLinesBefore(size_t n) override { m_sums.linesBefore = n; }
    void entry(const Digest& catalogueLine, const Digest& content,
               std::string_view fname) override {
        std::string raw = rawKey(catalogueLine);
        if (m_sums.byLine.emplace(raw, Sums::Entry{content, std::string(fname)}).second) {
            m_sums.order.push_back(std::move(raw));
        }
    }
    void covers(const Sums::Covers& c) override { m_sums.covers.push_back(c); }
    void skipped(size_t number) override { m_sums.skippedLines.push_back(number); }

private:
    Sums& m_sums;
};

class IndexBuilder final : public SumsSink {
public:
    explicit IndexBuilder(SumsIndex& index) : m_index(index) {}
    void setLinesBefore(size_t n) override { m_index.linesBefore = n; }
    void entry(const Digest& catalogueLine, const Digest& content,
               std::string_view fname) override {
        m_index.add(catalogueLine, content, fname);
    }
    void covers(const Sums::Covers& c) override { m_index.covers.push_back(c); }
    void skipped(size_t number) override { m_index.skippedLines.push_back(number); }

private:
    SumsIndex& m_index;
};

int compareDigests(const Digest& a, const Digest& b) {
    return std::memcmp(a.data(), b.data(), a.size());
}

// Whether one of the states of the catalogue a covers record gives is this one.
bool anyCoversMatch(const std::vector<Sums::Covers>& covers, std::string_view catalogue) {
    bool any = false;
    for (const Sums::Covers& c : covers) {
        if (c.bytes >= 0 && static_cast<size_t>(c.bytes) <= catalogue.size() &&
            digestOf(catalogue.substr(0, static_cast<size_t>(c.bytes))) == c.digest) {
            any = true;
        }
    }
    return any;
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

void CatalogueStateReader::update(std::string_view piece) {
    m_digest.update(piece);
    m_state.bytes += static_cast<std::int64_t>(piece.size());
    for (const char c : piece) {
        if (c == '\n') {
            m_state.lines += m_nonBlank ? 1 : 0;
            m_nonBlank = false;
            m_crPending = false;
            continue;
        }
        // A CR counts only when something other than the line end follows it.
        m_nonBlank = m_nonBlank || m_crPending || (c != ' ' && c != '\t' && c != '\r');
        m_crPending = c == '\r';
    }
}

CatalogueState CatalogueStateReader::final() {
    CatalogueState state = m_state;
    state.lines += m_nonBlank ? 1 : 0;
    state.digest = m_digest.final();
    return state;
}

CatalogueState catalogueStateOf(std::string_view catalogue) {
    CatalogueStateReader reader;
    reader.update(catalogue);
    return reader.final();
}

std::optional<CatalogueState> readCatalogueState(const std::string& path, std::string* error) {
    FileHandle file;
    if (!file.open(path, FileHandle::Mode::Read, false, error)) {
        return std::nullopt;
    }
    CatalogueStateReader reader;
    constexpr std::int64_t kPiece = 1 << 20;
    std::string buffer(static_cast<size_t>(kPiece), '\0');
    for (std::int64_t pos = 0;;) {
        const std::int64_t got = file.readAt(buffer.data(), kPiece, pos);
        if (got < 0) {
            if (error != nullptr) {
                *error = file.status().text();
            }
            return std::nullopt;
        }
        if (got == 0) {
            return reader.final();
        }
        reader.update(std::string_view(buffer.data(), static_cast<size_t>(got)));
        pos += got;
    }
}

std::string coversLine(std::string_view catalogue) {
    return coversLine(catalogueStateOf(catalogue));
}

std::string coversLine(const CatalogueState& catalogue) {
    return "covers=" + std::to_string(catalogue.lines) +
           "|bytes=" + std::to_string(catalogue.bytes) + "|cat=" + digestHex(catalogue.digest);
}

std::optional<std::string> upgradedHeader(std::string_view firstLine) {
    if (!text::startsWith(firstLine, kHeaderKeyV1)) {
        return std::nullopt;
    }
    return std::string(kHeaderKey) + std::string(firstLine.substr(kHeaderKeyV1.size()));
}

struct SumsWriter::Deflater {
    Deflater() { ok = ::deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater() {
        if (ok) {
            ::deflateEnd(&z);
        }
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    z_stream z{};
    bool ok = false;
};

SumsWriter::SumsWriter(int version) : m_version(version) {}
SumsWriter::~SumsWriter() = default;
SumsWriter::SumsWriter(SumsWriter&&) noexcept = default;
SumsWriter& SumsWriter::operator=(SumsWriter&&) noexcept = default;

std::string SumsWriter::header(size_t linesBefore) const {
    return (m_version >= 3 ? std::string(kHeaderKeyV3) + std::to_string(linesBefore)
                           : sumsHeader(linesBefore)) +
           "\r\n";
}

std::string SumsWriter::entry(const Digest& catalogueLine, const Digest& content,
                              std::string_view fname) {
    if (m_version < 3) {
        return sumsLine(catalogueLine, content, fname) + "\r\n";
    }
    std::string record = "E";
    putDigest(record, catalogueLine);
    putDigest(record, content);
    putVarint(record, fname.size());
    record += fname;
    return frame(record);
}

std::string SumsWriter::covers(std::string_view catalogue) {
    return covers(catalogueStateOf(catalogue));
}

std::string SumsWriter::covers(const CatalogueState& catalogue) {
    if (m_version < 3) {
        return coversLine(catalogue) + "\r\n";
    }
    std::string record = "V";
    putVarint(record, catalogue.lines);
    putVarint(record, static_cast<std::uint64_t>(catalogue.bytes));
    putDigest(record, catalogue.digest);
    return frame(record);
}

std::string SumsWriter::frame(const std::string& record) {
    if (!m_deflater) {
        m_deflater = std::make_unique<Deflater>();
    }
    z_stream& z = m_deflater->z;
    const bool begins = m_records == 0;
    if (begins && m_deflater->ok) {
        m_deflater->ok = ::deflateReset(&z) == Z_OK;
    }
    std::string payload;
    if (m_deflater->ok) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(record.data()));
        z.avail_in = static_cast<uInt>(record.size());
        char buffer[4096];
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            if (::deflate(&z, Z_SYNC_FLUSH) == Z_STREAM_ERROR) {
                m_deflater->ok = false;
                break;
            }
            payload.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    if (!m_deflater->ok || !text::endsWith(payload, kFlushTail)) {
        // Out of memory in zlib: a frame that reads as damaged rather than none at all.
        payload.clear();
        m_records = 0;
    } else {
        payload.resize(payload.size() - kFlushTail.size());
        m_records = (m_records + 1) % kStreamRecords;
    }
    std::string out(1, begins ? 'S' : 'C');
    putVarint(out, payload.size());
    const std::uint32_t crc = crcOf(payload);
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((crc >> (8 * i)) & 0xff);
    }
    return out + payload;
}

SumsAppend sumsAppendPlan(std::string_view content) {
    SumsAppend plan;
    const size_t eol = content.find("\r\n");
    if (text::startsWith(content, kHeaderKeyV3)) {
        if (eol == std::string_view::npos) {
            return plan;
        }
        const std::string_view body = content.substr(eol + 2);
        size_t pos = 0;
        while (pos < body.size()) {
            const std::optional<Frame> f = frameAt(body, pos);
            if (!f) {
                break;
            }
            pos = f->end;
        }
        // Only a frame the end of the file cut off is dropped; damage before it stays.
        const bool cut = pos < body.size() && (body[pos] == 'S' || body[pos] == 'C');
        if (cut) {
            plan.replacement = std::string(content.substr(0, eol + 2 + pos));
        }
        return plan;
    }
    plan.version = 2;
    const size_t end = content.find_first_of("\r\n");
    if (auto header = upgradedHeader(content.substr(0, end))) {
        plan.replacement = *header + std::string(content.substr(std::min(end, content.size())));
    }
    return plan;
}

std::optional<SumsAppend> readSumsAppendPlan(const std::string& path, std::string* error) {
    FileHandle file;
    if (!file.open(path, FileHandle::Mode::Read, false, error)) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> size = file.size();
    if (!size) {
        if (error != nullptr) {
            *error = file.status().text();
        }
        return std::nullopt;
    }
    constexpr std::int64_t kPiece = 1 << 20;
    std::string window;
    std::int64_t windowAt = 0;
    // The bytes at pos, as many as there are up to count, from a piece read ahead.
    auto bytesAt = [&](std::int64_t pos, std::int64_t count) -> std::optional<std::string_view> {
        count = std::min(count, *size - pos);
        if (pos < windowAt || pos + count > windowAt + static_cast<std::int64_t>(window.size())) {
            window.resize(static_cast<size_t>(kPiece));
            const std::int64_t got = file.readAt(window.data(), kPiece, pos);
            if (got < 0) {
                return std::nullopt;
            }
            window.resize(static_cast<size_t>(got));
            windowAt = pos;
        }
        return std::string_view(window).substr(static_cast<size_t>(pos - windowAt),
                                               static_cast<size_t>(count));
    };
    auto whole = [&]() -> std::optional<SumsAppend> {
        auto content = fs::readFile(path, error);
        if (!content) {
            return std::nullopt;
        }
        return sumsAppendPlan(*content);
    };
    const std::optional<std::string_view> head = bytesAt(0, kPiece);
    if (!head) {
        if (error != nullptr) {
            *error = file.status().text();
        }
        return std::nullopt;
    }
    const size_t eol = head->find("\r\n");
    if (!text::startsWith(*head, kHeaderKeyV3) || eol == std::string_view::npos) {
        // Text of an older version, or a header beyond the first piece: rare and small.
        return whole();
    }
    // Frame by frame, reading only each frame's head, as sumsAppendPlan walks them.
    constexpr std::int64_t kFrameHead = 1 + 10 + 4;
    std::int64_t pos = static_cast<std::int64_t>(eol) + 2;
    while (pos < *size) {
        const std::optional<std::string_view> frameHead = bytesAt(pos, kFrameHead);
        if (!frameHead) {
            if (error != nullptr) {
                *error = file.status().text();
            }
            return std::nullopt;
        }
        const char kind = (*frameHead)[0];
        size_t at = 1;
        std::uint64_t length = 0;
        if (kind != 'S' && kind != 'C') {
            return SumsAppend{};  // damage before the end stays
        }
        if (!getVarint(*frameHead, at, length) || *size - pos - static_cast<std::int64_t>(at) < 4 ||
            length > static_cast<std::uint64_t>(*size - pos - static_cast<std::int64_t>(at) - 4)) {
            return whole();  // a frame the end of the file cut off
        }
        pos += static_cast<std::int64_t>(at + 4 + length);
    }
    return SumsAppend{};
}

const Digest* Sums::find(const Digest& catalogueLine) const {
    auto it = byLine.find(rawKey(catalogueLine));
    return it == byLine.end() ? nullptr : &it->second.content;
}

std::optional<Sums> parseSums(std::string_view content) {
    Sums sums;
    SumsBuilder builder(sums);
    SumsParser parser(builder);
    parser.feed(content);
    if (!parser.finish()) {
        return std::nullopt;
    }
    return sums;
}

SumsIndex::SumsIndex(Keep keep, std::vector<Digest> wanted)
    : m_keep(keep), m_wanted(std::move(wanted)) {
    std::sort(m_wanted.begin(), m_wanted.end());
}

void SumsIndex::add(const Digest& catalogueLine, const Digest& content, std::string_view fname) {
    const auto at = static_cast<std::uint32_t>(m_keys.size());
    m_keys.push_back(Key{catalogueLine, at});
    if (m_keep == Keep::All) {
        m_contents.push_back(content);
        m_names.append(fname);
        m_nameEnds.push_back(m_names.size());
    } else if (m_keep == Keep::Wanted &&
               std::binary_search(m_wanted.begin(), m_wanted.end(), catalogueLine)) {
        m_wantedContents.push_back(Placed{at, content});
    }
}

void SumsIndex::seal() {
    std::sort(m_keys.begin(), m_keys.end(), [](const Key& a, const Key& b) {
        const int c = compareDigests(a.line, b.line);
        return c != 0 ? c < 0 : a.at < b.at;
    });
    // The first entry for a line is the one that counts.
    m_keys.erase(
        std::unique(m_keys.begin(), m_keys.end(),
                    [](const Key& a, const Key& b) { return compareDigests(a.line, b.line) == 0; }),
        m_keys.end());
    m_keys.shrink_to_fit();
    m_wanted = {};
}

std::optional<size_t> SumsIndex::indexOf(const Digest& catalogueLine) const {
    auto it = std::lower_bound(
        m_keys.begin(), m_keys.end(), catalogueLine,
        [](const Key& k, const Digest& d) { return compareDigests(k.line, d) < 0; });
    if (it == m_keys.end() || it->line != catalogueLine) {
        return std::nullopt;
    }
    return static_cast<size_t>(it - m_keys.begin());
}

const Digest* SumsIndex::find(const Digest& catalogueLine) const {
    if (m_keep == Keep::Verdict) {
        return nullptr;
    }
    const std::optional<size_t> i = indexOf(catalogueLine);
    if (!i) {
        return nullptr;
    }
    const std::uint32_t at = m_keys[*i].at;
    if (m_keep == Keep::All) {
        return &m_contents[at];
    }
    auto it = std::lower_bound(m_wantedContents.begin(), m_wantedContents.end(), at,
                               [](const Placed& p, std::uint32_t a) { return p.at < a; });
    return it != m_wantedContents.end() && it->at == at ? &it->content : nullptr;
}

std::string_view SumsIndex::nameAt(std::uint32_t at) const {
    if (m_keep != Keep::All) {
        return {};
    }
    const std::uint64_t begin = at == 0 ? 0 : m_nameEnds[at - 1];
    return std::string_view(m_names).substr(begin, m_nameEnds[at] - begin);
}

SumsFile ReadSums(const std::string& path, SumsIndex::Keep keep, std::vector<Digest> wanted) {
    SumsFile file;
    if (!fs::exists(path)) {
        return file;
    }
    SumsIndex index(keep, std::move(wanted));
    IndexBuilder builder(index);
    SumsParser parser(builder);
    FileHandle handle;
    bool read = handle.open(path, FileHandle::Mode::Read, false, &file.error);
    constexpr std::int64_t kPiece = 1 << 20;
    std::string buffer(static_cast<size_t>(kPiece), '\0');
    for (std::int64_t pos = 0; read;) {
        const std::int64_t got = handle.readAt(buffer.data(), kPiece, pos);
        if (got < 0) {
            file.error = handle.status().text();
            read = false;
        } else if (got == 0) {
            break;
        } else {
            parser.feed(std::string_view(buffer.data(), static_cast<size_t>(got)));
            pos += got;
        }
    }
    if (read) {
        if (parser.finish()) {
            index.seal();
            file.sums = std::move(index);
        } else {
            file.error = path + " is not a checksum file";
        }
    }
    file.status = file.sums ? SumsFile::Status::Read : SumsFile::Status::Damaged;
    return file;
}

namespace {

// Sums and SumsIndex answer alike.
template <class Entries>
CheckKind checkKindIn(const Entries* sums, const Digest& catalogueLine, size_t lineIndex,
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

}  // namespace

CheckKind checkKindFor(const Sums* sums, const Digest& catalogueLine, size_t lineIndex,
                       const Digest** expected) {
    return checkKindIn(sums, catalogueLine, lineIndex, expected);
}

CheckKind checkKindFor(const SumsIndex* sums, const Digest& catalogueLine, size_t lineIndex,
                       const Digest** expected) {
    return checkKindIn(sums, catalogueLine, lineIndex, expected);
}

SumsVerdict judgeSums(const SumsIndex& sums, std::string_view catalogue,
                      const std::vector<Digest>& lineDigests) {
    SumsVerdict verdict;
    std::vector<bool> matched(sums.m_keys.size());
    bool anyLine = false;
    for (const Digest& d : lineDigests) {
        if (const std::optional<size_t> i = sums.indexOf(d)) {
            matched[*i] = true;
            anyLine = true;
        }
    }
    if (!sums.m_keys.empty() && !anyLine && !lineDigests.empty() &&
        !anyCoversMatch(sums.covers, catalogue)) {
        verdict.belongs = false;
        return verdict;
    }
    std::vector<std::uint32_t> lost;
    for (size_t i = 0; i < matched.size(); ++i) {
        if (!matched[i]) {
            lost.push_back(sums.m_keys[i].at);
        }
    }
    std::sort(lost.begin(), lost.end());
    verdict.lost = lost.size();
    for (std::uint32_t at : lost) {
        verdict.lostNames.emplace_back(sums.nameAt(at));
    }
    return verdict;
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
    // A file with entries of which the catalogue has not one of its lines, and no state of the
    // catalogue it recorded, was written beside another catalogue. One that lost every line
    // is still this file's.
    if (!sums.order.empty() && !anyLine && !lineDigests.empty() &&
        !anyCoversMatch(sums.covers, catalogue)) {
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
