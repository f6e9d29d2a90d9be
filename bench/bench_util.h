// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::bench {

// The options the benchmarks share; each keeps its own defaults.
struct Options {
    int files = 0;  // small files
    int large = 0;
    std::int64_t largeMb = 0;
    std::string dir;  // where the scratch folder goes
};
// Reads --files N, --small N (the same), --large N, --large-mb MB and --dir FOLDER over the
// defaults.
Options parseOptions(int argc, char** argv, Options defaults);

// A scratch folder removed at the end.
class Scratch {
public:
    explicit Scratch(const std::string& under);
    ~Scratch();
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

struct Tree {
    std::vector<std::string> files;
    std::int64_t bytes = 0;
};

// Many small files (smallMin to smallMax bytes) and a few large ones, half compressible text,
// half random.
Tree makeTree(const std::string& root, int smallFiles, int largeFiles, std::int64_t largeBytes,
              std::int64_t smallMin = 1024, std::int64_t smallMax = 64 * 1024);

// Seconds taken by fn.
template <typename Fn>
double timed(Fn&& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds taken by a shell command; negative when it failed.
double timedCommand(const std::string& command);

double megabytesPerSecond(std::int64_t bytes, double seconds);
std::string quote(const std::string& path);

}  // namespace kestrel::bench
