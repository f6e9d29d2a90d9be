// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/parallel_gzip.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace kestrel {
namespace {

constexpr size_t kWindow = 32 * 1024;

// What zlib's own gzip writer puts first at level 9: no name, no time, "maximum compression",
// Unix.
constexpr std::array<unsigned char, 10> kHeader = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};

void putLittleEndian(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

// One worker's deflate state, kept across pieces (initialising one at level 9 allocates
// about 270 KiB).
class PieceDeflater {
public:
    explicit PieceDeflater(int level) {
        m_ok = deflateInit2(&m_stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~PieceDeflater() {
        if (m_ok) {
            deflateEnd(&m_stream);
        }
    }
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;

    bool deflatePiece(const std::string& input, const std::string& dictionary, bool last,
                      std::string& output) {
        if (!m_ok || deflateReset(&m_stream) != Z_OK) {
            return false;
        }
        if (!dictionary.empty() &&
            deflateSetDictionary(&m_stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                                 static_cast<uInt>(dictionary.size())) != Z_OK) {
            return false;
        }
        output.resize(deflateBound(&m_stream, static_cast<uLong>(input.size())) + 16);
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        m_stream.avail_in = static_cast<uInt>(input.size());
        size_t produced = 0;
        const int mode = last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            if (produced == output.size()) {
                output.resize(output.size() * 2);
            }
            m_stream.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
            m_stream.avail_out = static_cast<uInt>(output.size() - produced);
            const int rc = deflate(&m_stream, mode);
            produced = output.size() - m_stream.avail_out;
            if (rc == Z_STREAM_ERROR) {
                return false;
            }
            if (last ? rc == Z_STREAM_END : m_stream.avail_out != 0) {
                break;
            }
        }
        output.resize(produced);
        return true;
    }

private:
    z_stream m_stream{};
    bool m_ok = false;
};

}  // namespace

ParallelGzip::ParallelGzip(int level, unsigned workers, size_t piece)
    : m_level(level),
      m_workerCount(workers != 0 ? workers : std::max(1u, std::thread::hardware_concurrency())),
      m_pieceSize(std::max<size_t>(piece, kWindow)) {}

ParallelGzip::~ParallelGzip() {
    abandon();
}

void ParallelGzip::fail(Status why) {
    // The first failure is the one to tell; a full disk met later is still told as such.
    if (!m_failed) {
        m_status = std::move(why);
    } else if (why.isDiskFull()) {
        m_status.keepDiskFullOf(why);
    }
    m_failed = true;
}

bool ParallelGzip::open(const std::string& path) {
    abandon();
    m_path = path;
    m_failed = false;
    m_status = Status();
    m_filling.clear();
    m_window.clear();
    m_crc = crc32(0, nullptr, 0);
    m_inputSize = 0;
    std::string error;
    if (!m_file.open(path, FileHandle::Mode::Write, false, &error)) {
        fail(Status::failure(error));
        return false;
    }
    m_fileEnd = m_file.size().value_or(0);
    startWorkers();
    return writeOut({reinterpret_cast<const char*>(kHeader.data()), kHeader.size()});
}

bool ParallelGzip::write(std::string_view bytes) {
    if (!isOpen() || m_failed) {
        return false;
    }
    while (!bytes.empty()) {
        const size_t take = std::min(m_pieceSize - m_filling.size(), bytes.size());
        m_filling.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (m_filling.size() == m_pieceSize) {
            submit(false);
            // Two pieces per worker keep every core busy while the oldest is written.
            if (!drain(2 * static_cast<size_t>(m_workerCount))) {
                return false;
            }
        }
    }
    return !m_failed;
}

bool ParallelGzip::flush() {
    if (!isOpen() || m_failed) {
        return false;
    }
    if (!m_filling.empty()) {
        submit(false);
    }
    return drain(0);
}

bool ParallelGzip::close() {
    if (!isOpen()) {
        return !m_failed;
    }
    if (!m_failed) {
        submit(true);
        if (drain(0)) {
            std::string trailer;
            putLittleEndian(trailer, m_crc);
            putLittleEndian(trailer, static_cast<std::uint32_t>(m_inputSize & 0xffffffffu));
            static_cast<void>(writeOut(trailer));
        }
    }
    stopWorkers();
    m_file.close();
    return !m_failed;
}

void ParallelGzip::abandon() {
    stopWorkers();
    m_file.close();
}

void ParallelGzip::startWorkers() {
    m_stop = false;
    for (unsigned i = 0; i < m_workerCount; ++i) {
        m_workers.emplace_back([this] { work(); });
    }
}

void ParallelGzip::stopWorkers() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_workAvailable.notify_all();
    for (std::thread& t : m_workers) {
        t.join();
    }
    m_workers.clear();
    m_todo.clear();
    m_inFlight.clear();
}

void ParallelGzip::work() {
    PieceDeflater deflater(m_level);
    for (;;) {
        Piece* piece = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_workAvailable.wait(lock, [this] { return m_stop || !m_todo.empty(); });
            if (m_stop) {
                return;
            }
            piece = m_todo.front();
            m_todo.pop_front();
        }
        piece->failed =
            !deflater.deflatePiece(piece->input, piece->dictionary, piece->last, piece->output);
        piece->crc =
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(piece->input.data()),
                                             static_cast<uInt>(piece->input.size())));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            piece->done = true;
        }
        m_pieceDone.notify_all();
    }
}

void ParallelGzip::submit(bool last) {
    auto piece = std::make_unique<Piece>();
    piece->input = std::move(m_filling);
    piece->dictionary = m_window;
    piece->last = last;
    if (piece->input.size() >= kWindow) {
        m_window.assign(piece->input, piece->input.size() - kWindow, kWindow);
    } else {
        m_window += piece->input;
        if (m_window.size() > kWindow) {
            m_window.erase(0, m_window.size() - kWindow);
        }
    }
    m_filling.clear();
    m_filling.reserve(m_pieceSize);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_todo.push_back(piece.get());
        m_inFlight.push_back(std::move(piece));
    }
    m_workAvailable.notify_one();
}

bool ParallelGzip::drain(size_t keep) {
    for (;;) {
        std::unique_ptr<Piece> piece;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_inFlight.empty() || (!m_inFlight.front()->done && m_inFlight.size() <= keep)) {
                break;
            }
            m_pieceDone.wait(lock, [this] { return m_inFlight.front()->done; });
            piece = std::move(m_inFlight.front());
            m_inFlight.pop_front();
        }
        if (piece->failed) {
            fail(Status::failure("cannot compress for " + m_path));
        }
        if (!m_failed && writeOut(piece->output)) {
            m_crc = static_cast<std::uint32_t>(
                crc32_combine(m_crc, piece->crc, static_cast<z_off_t>(piece->input.size())));
            m_inputSize += piece->input.size();
        }
    }
    return !m_failed;
}

bool ParallelGzip::writeOut(std::string_view bytes) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (m_file.writeAt(bytes.data(), size, m_fileEnd) != size) {
        fail(m_file.status());
        return false;
    }
    m_fileEnd += size;
    return true;
}

}  // namespace kestrel
