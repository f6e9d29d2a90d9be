// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/temp_dir.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace kestrel::test {

TempDir::TempDir() {
    std::random_device rd;
    std::mt19937_64 gen(rd());
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate = base / ("kestrel-test-" + std::to_string(gen()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make files read-only; give write access back so that everything can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::file(std::string_view relative) const {
    return (std::filesystem::path(m_path) / relative).string();
}

std::string TempDir::write(std::string_view relative, std::string_view content) const {
    const std::filesystem::path p = std::filesystem::path(m_path) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string noise(size_t size, std::uint64_t seed) {
    std::string out(size, '\0');
    std::mt19937_64 gen(seed);
    for (size_t at = 0; at < size; at += sizeof(std::uint64_t)) {
        const std::uint64_t word = gen();
        std::memcpy(out.data() + at, &word, std::min(sizeof word, size - at));
    }
    return out;
}

}  // namespace kestrel::test
