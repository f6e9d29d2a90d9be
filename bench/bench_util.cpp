// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace kestrel::bench {

Scratch::Scratch(const std::string& under) {
    std::random_device rd;
    m_path = (std::filesystem::path(under) / ("kestrel-bench-" + std::to_string(rd()))).string();
    std::filesystem::create_directories(m_path);
}

Scratch::~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

namespace {

std::string textChunk(size_t n, std::mt19937_64& gen) {
    static const char* kWords[] = {"backup ",  "kestrel ", "volume ", "archive ", "catalogue ",
                                   "session ", "restore ", "2026 ",   "\n",       "data "};
    std::string out;
    out.reserve(n + 16);
    while (out.size() < n) {
        out += kWords[gen() % 10];
    }
    out.resize(n);
    return out;
}

std::string randomChunk(size_t n, std::mt19937_64& gen) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>(gen());
    }
    return out;
}

void writeFile(const std::string& path, std::int64_t size, bool text, std::mt19937_64& gen) {
    std::ofstream out(path, std::ios::binary);
    while (size > 0) {
        const auto n = static_cast<size_t>(std::min<std::int64_t>(size, 1 << 20));
        const std::string chunk = text ? textChunk(n, gen) : randomChunk(n, gen);
        out.write(chunk.data(), static_cast<std::streamsize>(n));
        size -= static_cast<std::int64_t>(n);
    }
}

}  // namespace

Tree makeTree(const std::string& root, int smallFiles, int largeFiles, std::int64_t largeBytes,
              std::int64_t smallMin, std::int64_t smallMax) {
    std::mt19937_64 gen(20260105);
    Tree tree;
    for (int i = 0; i < smallFiles; ++i) {
        const std::string dir = root + "/small/d" + std::to_string(i % 200);
        std::filesystem::create_directories(dir);
        const std::int64_t size =
            smallMin +
            static_cast<std::int64_t>(gen() % static_cast<std::uint64_t>(smallMax - smallMin + 1));
        const std::string path = dir + "/f" + std::to_string(i) + (i % 2 ? ".txt" : ".bin");
        writeFile(path, size, i % 2 == 1, gen);
        tree.files.push_back(path);
        tree.bytes += size;
    }
    std::filesystem::create_directories(root + "/large");
    for (int i = 0; i < largeFiles; ++i) {
        const std::string path =
            root + "/large/big" + std::to_string(i) + (i % 2 ? ".bin" : ".log");
        writeFile(path, largeBytes, i % 2 == 0, gen);
        tree.files.push_back(path);
        tree.bytes += largeBytes;
    }
    return tree;
}

Options parseOptions(int argc, char** argv, Options o) {
    if (o.dir.empty()) {
        o.dir = std::filesystem::temp_directory_path().string();
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--files" || name == "--small") {
            o.files = std::stoi(value);
        } else if (name == "--large") {
            o.large = std::stoi(value);
        } else if (name == "--large-mb") {
            o.largeMb = std::stoll(value);
        } else if (name == "--dir") {
            o.dir = value;
        }
    }
    return o;
}

double timedCommand(const std::string& command) {
    int rc = 0;
    const double s = timed([&] { rc = std::system(command.c_str()); });
    return rc == 0 ? s : -1;
}

double megabytesPerSecond(std::int64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

std::string quote(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace kestrel::bench
